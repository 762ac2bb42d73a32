"""Cartridge: a cartridge held in memory rather than named by a path.

An environment built from a Cartridge needs no file where it runs: the image travels
with the environment's options (pickled to another process, a Ray actor, or another
machine) and the consoles are built from those bytes there.
"""
from __future__ import annotations

import os
from dataclasses import dataclass


@dataclass(frozen=True, repr=False)
class Cartridge:
    """An iNES image and the file name it goes by.

    image: the cartridge file's contents (any bytes-like object; kept as bytes).
    name: stands for the file's path: it names the consoles' save folder, as the
        file's own name would.
    """

    image: bytes
    name: str = "cartridge.nes"

    def __post_init__(self) -> None:
        if isinstance(self.image, str) or not isinstance(self.image, (bytes, bytearray,
                                                                      memoryview)):
            raise TypeError("Cartridge image must be bytes-like (the cartridge file's "
                            f"contents), not {type(self.image).__name__}")
        if not isinstance(self.name, str):
            raise TypeError(f"Cartridge name must be a str, not {type(self.name).__name__}")
        if "\0" in self.name:
            raise ValueError("Cartridge name contains a NUL character")
        object.__setattr__(self, "image", bytes(self.image))

    @classmethod
    def read(cls, path: str | os.PathLike[str]) -> Cartridge:
        """The cartridge in the file at `path`, named by the file's name. Read as a
        Batch reads its cartridge: OSError when it cannot be read, ValueError when it is
        not a regular file or is larger than any iNES image."""
        path = os.fspath(path)
        if not isinstance(path, str):
            raise TypeError("path must be a str path, not bytes")
        from ._batch import read_image
        return cls(read_image(path), os.path.basename(path))

    def __repr__(self) -> str:
        return f"Cartridge(name={self.name!r}, {len(self.image)} bytes)"
