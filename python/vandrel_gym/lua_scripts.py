"""Lua functions for a scenario's reward or end of episode (the "lua" extra: lupa).

A few catalogue games compute their reward or their end of episode in Lua: the scenario
names a function, {"reward": {"script": "lua:correct_reward"}}, defined in the files of
its "scripts" list (script.lua by default). The function reads the game's variables as
fields of the global table `data` and may keep globals of its own between calls (the
last score, a step counter):

    prev_score = 0
    function correct_reward()
        local delta = data.score - prev_score
        prev_score = data.score
        return delta
    end

LuaScripts runs one Lua state per console, so that one console's globals never reach
another's, and restart(index) starts a console's state afresh for a new episode.

The scripts only compute. They see Lua's base functions, math, string, table and utf8;
not os, io, debug, coroutine, require, dofile, loadfile, collectgarbage or finalizers
(__gc), and load() reads source text only. A call may run INSTRUCTION_LIMIT Lua
instructions and a state may hold MEMORY_LIMIT bytes; past either the call fails with
LuaScriptError. The string functions that match patterns (find, match, gmatch, gsub) are
left out: they run in C, where no instruction count reaches, and a pattern can take
exponential time.
"""
from __future__ import annotations

import math
import operator
import os
import threading
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

INSTRUCTION_LIMIT = 10_000_000
"""Lua instructions a call (or the loading of the scripts) may run: about 0.1 s."""

MEMORY_LIMIT = 64 << 20
"""Bytes one console's Lua state may hold."""

DEFAULT_SCRIPT = "script.lua"
"""The script file of a scenario that has no "scripts" list."""

_INT64 = 1 << 63
_STOPPED = "vandrel: the instruction limit was reached"

# Runs first in each new state, with every library at hand, and hands Python what it
# needs: the scripts' environment (the only globals they see) and the C functions that
# set the instruction limit and reach the environment without running any Lua code.
_SANDBOX = """
local stopped = ...
local sethook, getinfo, load, error, type = debug.sethook, debug.getinfo, load, error, type
local rawget, rawset, setmetatable = rawget, rawset, setmetatable

for _, name in ipairs({"find", "match", "gmatch", "gsub", "dump"}) do
    string[name] = nil      -- also gone from the strings' own metatable (("x"):find)
end

local env = {}
for _, name in ipairs({"assert", "error", "getmetatable", "ipairs", "next", "pairs",
                       "pcall", "rawequal", "rawget", "rawlen", "rawset", "select",
                       "tonumber", "tostring", "type", "xpcall"}) do
    env[name] = _G[name]
end
env.math, env.string, env.table, env.utf8 = math, string, table, utf8
env._G, env._VERSION = env, _VERSION
env.unpack = table.unpack   -- scripts written for Lua 5.1
env.print = function() end  -- scripts print while they are written; nothing shows here
env.setmetatable = function(t, mt)
    if type(mt) == "table" and rawget(mt, "__gc") ~= nil then
        error("finalizers (__gc) are not available to scripts", 2)
    end
    return setmetatable(t, mt)
end
env.load = function(chunk, name, mode, chunk_env)
    if chunk_env == nil then chunk_env = env end
    return load(chunk, name, "t", chunk_env)
end

-- Called every so many instructions; once the limit is reached it fails at every
-- instruction, so that a pcall in the script cannot carry on past it.
local function halt()
    sethook(halt, "", 1)
    error(stopped, 0)
end

return env, halt, sethook, getinfo, rawget, rawset, load
"""


class LuaScriptError(ValueError):
    """A Lua script that failed: it does not compile, raised an error, has no such
    function, ran too long, or returned something other than a number or a boolean.
    `file` and `function` say where."""

    def __init__(self, file: str | os.PathLike[str], function: str, problem: str) -> None:
        self.file, self.function = os.fspath(file), function
        where = f"{self.file}: {function}" if function else self.file
        super().__init__(f"{where}: {problem}")


def _lupa(files: Sequence[Path]) -> Any:
    try:
        from lupa import lua54
    except ImportError as error:
        named = ", ".join(os.fspath(f) for f in files) or "a Lua script"
        raise ModuleNotFoundError(
            f"{named}: running Lua scripts needs lupa: pip install \"vandrel[lua]\" "
            "(or pip install lupa)", name="lupa") from error
    return lua54


class _Console:
    """One console's Lua state and the functions that reach into it."""

    def __init__(self, lua: Any, owner: LuaScripts) -> None:
        self.runtime = lua.LuaRuntime(register_eval=False, register_builtins=False,
                                      max_memory=owner.memory_limit)
        (self.env, self.halt, self.sethook, self.getinfo, self.rawget, self.rawset,
         load) = self.runtime.execute(_SANDBOX, _STOPPED)
        self.lock = threading.Lock()
        for file, text in owner._texts:
            compiled = load(text, "@" + file.name, "t", self.env)
            chunk, problem = compiled if isinstance(compiled, tuple) else (compiled, None)
            if chunk is None:
                raise LuaScriptError(file, "", f"does not compile: {problem}")
            owner._run(self, file, "", chunk)


class LuaScripts:
    """The Lua files `files` loaded into `count` independent states, one per console.

    call(index, function, values): console `index` calls the global `function` with
    `data` set to `values` (variable name -> value) and returns its result as a float:
    a number as it is, a boolean as 1.0 or 0.0, nothing (nil) as 0.0.
    restart(index): console `index`'s state as freshly loaded, for a new episode.

    Each console's calls must come one at a time (they are serialised per console);
    different consoles may be called from different threads at once.
    """

    def __init__(self, files: Sequence[str | os.PathLike[str]], count: int, *,
                 instruction_limit: int = INSTRUCTION_LIMIT,
                 memory_limit: int = MEMORY_LIMIT) -> None:
        if isinstance(files, (str, os.PathLike)):
            raise TypeError("files must be a list of paths, not one path")
        paths = [Path(f) for f in files]
        self._lua = _lupa(paths)
        self.files = paths
        self.instruction_limit = _count("instruction_limit", instruction_limit, 1)
        self.memory_limit = _count("memory_limit", memory_limit, 1 << 20)
        count = _count("count", count, 1)
        self._texts = [(path, _read(path)) for path in paths]
        self._consoles = [_Console(self._lua, self) for _ in range(count)]

    @classmethod
    def of_scenario(cls, folder: str | os.PathLike[str], scenario: Mapping[str, Any],
                    count: int, **limits: int) -> LuaScripts:
        """The scripts a scenario (parsed scenario.json) of the game folder `folder`
        lists under "scripts" (script.lua when it lists none), for `count` consoles."""
        names = scenario.get("scripts", [DEFAULT_SCRIPT])
        if not isinstance(names, list) or not all(
                isinstance(n, str) and n and Path(n).name == n for n in names):
            raise LuaScriptError(Path(folder), "", f"scripts: expected a list of file names "
                                 f"in the game folder, got {names!r}")
        return cls([Path(folder) / name for name in names], count, **limits)

    def __len__(self) -> int:
        return len(self._consoles)

    def call(self, index: int, function: str, values: Mapping[str, int]) -> float:
        console = self._consoles[self._index(index)]
        if not isinstance(function, str):
            raise TypeError(f"function must be a str, not {type(function).__name__}")
        data = _values(values)
        with console.lock:
            found = console.rawget(console.env, function)
            if self._lua.lua_type(found) != "function":
                raise LuaScriptError(self._all_files(), function, "no such function in the "
                                     "scripts" + ("" if found is None else
                                                  f" (the global is a {self._kind(found)})"))
            file = self._file_of(console, found)
            try:
                console.rawset(console.env, "data", console.runtime.table_from(data))
            except self._lua.LuaMemoryError:
                raise LuaScriptError(file, function, self._out_of_memory()) from None
            result = self._run(console, file, function, found)
        if isinstance(result, tuple):
            result = result[0] if result else None
        if result is None:
            return 0.0
        if isinstance(result, bool):
            return float(result)
        if isinstance(result, (int, float)):
            value = float(result)
            if math.isfinite(value):
                return value
            raise LuaScriptError(file, function, f"returned {value}, not a finite number")
        raise LuaScriptError(file, function, f"returned a {self._kind(result)}, not a number "
                             "or a boolean")

    def restart(self, index: int) -> None:
        """Console `index`'s Lua state starts over: the scripts loaded afresh, their
        globals as at the start."""
        index = self._index(index)
        with self._consoles[index].lock:
            self._consoles[index] = _Console(self._lua, self)

    def _run(self, console: _Console, file: Path, function: str, callable_: Any) -> Any:
        """callable_() within the instruction limit; Lua's errors as LuaScriptError."""
        console.sethook(console.halt, "", self.instruction_limit)
        try:
            return callable_()
        except self._lua.LuaMemoryError:
            raise LuaScriptError(file, function, self._out_of_memory()) from None
        except self._lua.LuaError as error:
            message = str(error).split("\nstack traceback:", 1)[0]
            if message == _STOPPED:
                message = (f"ran past {self.instruction_limit} Lua instructions "
                           "(a loop that never ends?)")
            elif not message.strip():
                message = "raised an error without a message"
            raise LuaScriptError(file, function, message) from None
        finally:
            console.sethook()

    def _kind(self, value: Any) -> str:
        """Lua's name for the type of a value that came from Lua."""
        if isinstance(value, bool):
            return "boolean"
        if isinstance(value, (int, float)):
            return "number"
        if isinstance(value, (str, bytes)):
            return "string"
        return self._lua.lua_type(value) or type(value).__name__

    def _out_of_memory(self) -> str:
        return f"ran out of memory (a console's scripts may hold {self.memory_limit} bytes)"

    def _file_of(self, console: _Console, function: Any) -> Path:
        source = console.getinfo(function, "S")["source"]
        for path in self.files:
            if source == "@" + path.name:
                return path
        return self._all_files()

    def _all_files(self) -> Path:
        return Path(", ".join(os.fspath(f) for f in self.files))

    def _index(self, index: object) -> int:
        if isinstance(index, bool):
            raise TypeError("index must be an integer, not a bool")
        number = operator.index(index)  # type: ignore[arg-type]
        if not 0 <= number < len(self._consoles):
            raise IndexError(f"console {number} out of range (0-{len(self._consoles) - 1})")
        return number


def _count(name: str, value: object, minimum: int) -> int:
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an integer, not a bool")
    number = operator.index(value)  # type: ignore[arg-type]
    if number < minimum:
        raise ValueError(f"{name} must be at least {minimum}, got {number}")
    return number


def _read(path: Path) -> str:
    try:
        return path.read_bytes().decode("utf-8")
    except FileNotFoundError:
        raise LuaScriptError(path, "", "missing") from None
    except OSError as error:
        raise LuaScriptError(path, "", f"cannot be read: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise LuaScriptError(path, "", f"not UTF-8 text ({error.reason} at byte "
                             f"{error.start})") from None


def _values(values: Mapping[str, Any]) -> dict[str, int | float]:
    if not isinstance(values, Mapping):
        raise TypeError(f"values must be a mapping of names to numbers, not "
                        f"{type(values).__name__}")
    data: dict[str, int | float] = {}
    for name, value in values.items():
        if not isinstance(name, str):
            raise TypeError(f"variable names must be str, got {name!r}")
        if isinstance(value, float) or (hasattr(value, "dtype") and value.dtype.kind == "f"):
            data[name] = float(value)
            continue
        try:
            number = operator.index(value)
        except TypeError:
            raise TypeError(f"variable {name!r} must be a number, got "
                            f"{type(value).__name__}") from None
        # Lua's integers are 64-bit: a longer variable arrives as a float, as a
        # number beyond them would in Lua itself.
        data[name] = number if -_INT64 <= number < _INT64 else float(number)
    return data
