"""Writing a game folder's files without ever leaving one half-written.

The integration tools edit files a person has worked on (data.json, metadata.json,
rom.sha). Each file is written whole to a temporary file beside it and then renamed
over the old one, so an error or an interrupt leaves the old contents in place. A JSON
file that cannot be read is never overwritten: the tools say why and stop.
"""
import json
import os
import pathlib
import tempfile

from .cartridge import ToolError


def replace_file(path, data):
    """Writes the bytes `data` to `path` in one step; ToolError when it cannot."""
    path = pathlib.Path(path)
    try:
        handle, temporary = tempfile.mkstemp(prefix=f".{path.name}.", dir=path.parent)
    except OSError as error:
        raise ToolError(f"cannot write {path}: {error.strerror or error}") from None
    try:
        with os.fdopen(handle, "wb") as file:
            file.write(data)
        os.replace(temporary, path)
    except BaseException as error:
        os.unlink(temporary)
        if isinstance(error, OSError):
            raise ToolError(f"cannot write {path}: {error.strerror or error}") from None
        raise


def read_json_object(path):
    """The JSON object in `path`, {} when there is no such file; ToolError (the file left
    alone) when it is not a readable JSON object."""
    path = pathlib.Path(path)
    try:
        text = path.read_bytes().decode("utf-8")
    except FileNotFoundError:
        return {}
    except OSError as error:
        raise ToolError(f"cannot read {path}: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise ToolError(f"{path} is not UTF-8 text ({error.reason}); left unchanged") from None
    try:
        data = json.loads(text)
    except json.JSONDecodeError as error:
        raise ToolError(f"{path} is not valid JSON ({error}); left unchanged") from None
    if not isinstance(data, dict):
        raise ToolError(f"{path} does not hold a JSON object; left unchanged")
    return data


def write_json(path, data):
    replace_file(path, (json.dumps(data, indent=2) + "\n").encode("utf-8"))
