"""Controller buttons as bit masks, and the action sets of the environments.

A controller's state is one byte: bit 0 A, 1 B, 2 Select, 3 Start, 4 Up, 5 Down,
6 Left, 7 Right. An action set is a list of such masks; a Discrete action is an index
into it. Masks can be written as button names:

    >>> button_mask("right", "a")
    129
    >>> button_mask("right+a")
    129
    >>> button_names(129)
    ('a', 'right')
"""
from __future__ import annotations

import operator
from collections.abc import Iterable, Sequence

import numpy as np

BUTTONS: tuple[str, ...] = ("a", "b", "select", "start", "up", "down", "left", "right")
"""The eight buttons, in bit order."""

BUTTON_BITS: dict[str, int] = {name: 1 << bit for bit, name in enumerate(BUTTONS)}
"""Each button's bit in a mask."""

NOOP = "noop"
"""The name of the empty mask (no button held)."""

DEFAULT_ACTIONS: tuple[tuple[str, ...], ...] = (
    (),
    ("right",),
    ("left",),
    ("up",),
    ("down",),
    ("up", "right"),
    ("up", "left"),
    ("down", "right"),
    ("down", "left"),
    ("a",),
    ("b",),
    ("a", "b"),
    ("right", "a"),
    ("right", "b"),
    ("right", "a", "b"),
    ("left", "a"),
    ("left", "b"),
    ("left", "a", "b"),
    ("up", "a"),
    ("down", "a"),
    ("start",),
    ("select",),
)
"""The default action set: nothing, the eight D-pad directions, A, B and both, the
horizontal directions with A and/or B, up and down with A, Start and Select."""


def button_mask(*buttons: str) -> int:
    """The mask of the named buttons. Names are case-insensitive and may also be
    joined with '+' ("right+a"); "noop" or no name at all is the empty mask."""
    mask = 0
    for item in buttons:
        if not isinstance(item, str):
            raise TypeError(f"button names are strings, not {type(item).__name__} ({item!r})")
        if item.strip().lower() in ("", NOOP):
            continue
        for part in item.split("+"):
            name = part.strip().lower()
            if name not in BUTTON_BITS:
                raise ValueError(f"unknown button {part!r} in {item!r}; "
                                 f"the buttons are {', '.join(BUTTONS)}")
            mask |= BUTTON_BITS[name]
    return mask


def button_names(mask: int) -> tuple[str, ...]:
    """The buttons held in `mask`, in bit order."""
    mask = _mask_value(mask)
    return tuple(name for name, bit in BUTTON_BITS.items() if mask & bit)


def action_name(mask: int) -> str:
    """A readable name for a mask: "right+a", or "noop" for no button."""
    return "+".join(button_names(mask)) or NOOP


def _mask_value(value: object) -> int:
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"a button mask is an integer 0-255, not a bool ({value!r})")
    try:
        mask = operator.index(value)
    except TypeError:
        raise TypeError(f"a button mask is an integer 0-255, not {type(value).__name__} "
                        f"({value!r})") from None
    if not 0 <= mask <= 255:
        raise ValueError(f"a button mask is an integer 0-255, got {mask}")
    return mask


def action_masks(actions: Iterable[int | str | Sequence[str]] | None = None) -> np.ndarray:
    """The masks (uint8 array) of an action set given as masks, button-name strings
    ("right+a") or tuples of button names, mixed freely; None gives DEFAULT_ACTIONS."""
    if actions is None:
        actions = DEFAULT_ACTIONS
    if isinstance(actions, (str, bytes)) or not isinstance(actions, Iterable):
        raise TypeError("an action set is a list of button masks or button-name tuples, "
                        f"not {type(actions).__name__}")
    masks = []
    for action in actions:
        if isinstance(action, str):
            masks.append(button_mask(action))
        elif isinstance(action, (tuple, list)):
            masks.append(button_mask(*action))
        else:
            masks.append(_mask_value(action))
    if not masks:
        raise ValueError("the action set is empty")
    return np.array(masks, dtype=np.uint8)
