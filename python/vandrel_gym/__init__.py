"""Gymnasium environments and a native batch stepper for vandrel consoles.

Importing the package registers "vandrel/NES-v0" with Gymnasium:

    gymnasium.make("vandrel/NES-v0", rom="game.nes")             # an NESEnv
    gymnasium.make_vec("vandrel/NES-v0", num_envs=8, rom="game.nes",
                       vectorization_mode="vector_entry_point")  # an NESVectorEnv

Game folders in the public integration format (variables in RAM, reward, end of
episode) are read by Integration; list_games() and add_integration_path() find them.
"vandrel/Game-v0" plays one as a task, its reward and end of episode evaluated natively:

    gymnasium.make("vandrel/Game-v0", game="VandrelDemo-Nes", rom="demo.nes")
    gymnasium.make_vec("vandrel/Game-v0", num_envs=8, game=..., rom=...,
                       vectorization_mode="vector_entry_point")

The environments themselves (and the native stepper) load on first use. Rollouts on a
Ray cluster are in vandrel_gym.cluster (the "cluster" extra).
"""
from typing import TYPE_CHECKING, Any

from .actions import (BUTTONS, DEFAULT_ACTIONS, action_masks, action_name, button_mask,
                      button_names)
from .cartridge import Cartridge
from .game_task import PowerOnStartWarning
from .integration import Integration, IntegrationError, add_integration_path, list_games
from .snapshots import EnvSnapshot

if TYPE_CHECKING:
    from .env import NESEnv
    from .vector_env import NESVectorEnv

ENV_ID = "vandrel/NES-v0"
GAME_ENV_ID = "vandrel/Game-v0"

__all__ = ["BUTTONS", "DEFAULT_ACTIONS", "ENV_ID", "GAME_ENV_ID", "Cartridge", "EnvSnapshot",
           "Integration", "IntegrationError", "NESEnv", "NESVectorEnv", "PowerOnStartWarning",
           "action_masks", "action_name", "add_integration_path", "button_mask",
           "button_names", "list_games"]

try:
    from gymnasium.envs.registration import register, registry
except ImportError:     # the batch stepper alone needs only NumPy
    pass
else:
    if ENV_ID not in registry:
        register(id=ENV_ID, entry_point="vandrel_gym.env:NESEnv",
                 vector_entry_point="vandrel_gym.vector_env:NESVectorEnv")
    if GAME_ENV_ID not in registry:
        register(id=GAME_ENV_ID, entry_point="vandrel_gym.env:make_game_env",
                 vector_entry_point="vandrel_gym.vector_env:make_game_vector_env")


def __getattr__(name: str) -> Any:
    if name == "NESEnv":
        from .env import NESEnv
        return NESEnv
    if name == "NESVectorEnv":
        from .vector_env import NESVectorEnv
        return NESVectorEnv
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
