"""Lua reward and end-of-episode scripts: results, per-console globals, the sandbox and
the limits, and the message when lupa is missing."""
import importlib.util
import sys

import pytest

from vandrel_gym.lua_scripts import LuaScriptError, LuaScripts

needs_lupa = pytest.mark.skipif(importlib.util.find_spec("lupa") is None,
                                reason='the Lua scripts need lupa: pip install "vandrel[lua]"')


def scripts(tmp_path, source, count=1, **limits):
    (tmp_path / "script.lua").write_text(source)
    return LuaScripts.of_scenario(tmp_path, {}, count, **limits)


@needs_lupa
@pytest.mark.parametrize("body, values, result", [
    ("return data.score * 2 - data.lives", {"score": 21, "lives": 2}, 40.0),
    ("return data.lives == 0", {"lives": 0}, 1.0),
    ("return data.lives == 0", {"lives": 3}, 0.0),
    ("return nil", {}, 0.0),
    ("", {}, 0.0),
    ("return 0.25, 'ignored'", {}, 0.25),
    ("return data.huge", {"huge": 2**70}, float(2**70)),    # beyond Lua's 64-bit integers
    ("return math.floor(data.x / 3) + #string.format('%03d', data.x)", {"x": 10}, 6.0),
])
def test_results(tmp_path, body, values, result):
    assert scripts(tmp_path, f"function f() {body} end").call(0, "f", values) == result


@needs_lupa
def test_each_console_keeps_its_own_globals_until_restarted(tmp_path):
    lua = scripts(tmp_path, """
        previous = 0
        function reward()
            local delta = data.score - previous
            previous = data.score
            return delta
        end""", count=2)
    assert [lua.call(0, "reward", {"score": s}) for s in (10, 25)] == [10, 15]
    assert lua.call(1, "reward", {"score": 25}) == 25
    lua.restart(0)
    assert lua.call(0, "reward", {"score": 30}) == 30
    assert lua.call(1, "reward", {"score": 30}) == 5


@needs_lupa
@pytest.mark.parametrize("source, function, problem", [
    ("function f( end", None, "does not compile: script.lua:1:"),
    ("while true do end", None, "ran past 100000 Lua instructions"),
    ("function f() return data.nope + 1 end", "f", "script.lua:1: attempt to perform arithmetic"),
    ("function f() end", "g", "no such function"),
    ("g = 5", "g", "no such function in the scripts (the global is a number)"),
    ("function f() return {} end", "f", "returned a table, not a number"),
    ("function f() return 'x' end", "f", "returned a string"),
    ("function f() return 0/0 end", "f", "not a finite number"),
    ("function f() error({}) end", "f", "raised an error without a message"),
    # a pcall in the script cannot outlast the limit
    ("function f() while true do pcall(function() while true do end end) end end", "f",
     "ran past 100000 Lua instructions"),
    ("function f() local s = string.rep('x', 1 << 20) return #string.rep(s, 64) end", "f",
     "ran out of memory"),
    ("function f() return os.exit() end", "f", "global 'os'"),
    ("function f() return io.open('x') end", "f", "global 'io'"),
    ("function f() return require('os') end", "f", "global 'require'"),
    ("function f() return debug.sethook() end", "f", "global 'debug'"),
    ("function f() return dofile('x') end", "f", "global 'dofile'"),
    ("function f() return coroutine.wrap(f) end", "f", "global 'coroutine'"),
    ("function f() return python.eval('1') end", "f", "global 'python'"),
    ("function f() return ('aaa'):find('a-a-b') end", "f", "method 'find'"),
    ("function f() return assert(load('\\27Lua', 'x', 'b')) end", "f", "binary chunk"),
    ("function f() setmetatable({}, {__gc = f}) end", "f", "finalizers (__gc)"),
])
def test_failures_name_the_file_and_the_function(tmp_path, source, function, problem):
    with pytest.raises(LuaScriptError) as raised:
        lua = scripts(tmp_path, source, instruction_limit=100_000, memory_limit=8 << 20)
        lua.call(0, function, {})
    assert problem in str(raised.value)
    assert raised.value.file == str(tmp_path / "script.lua")
    assert raised.value.function == (function or "")


@needs_lupa
def test_bad_arguments_are_python_errors(tmp_path):
    lua = scripts(tmp_path, "function f() return 1 end", count=2)
    for call, error in [(lambda: lua.call(2, "f", {}), IndexError),
                        (lambda: lua.call(0, "f", {"x": "1"}), TypeError),
                        (lambda: lua.call(0, "f", [1]), TypeError),
                        (lambda: LuaScripts([tmp_path / "none.lua"], 1), LuaScriptError),
                        (lambda: LuaScripts.of_scenario(tmp_path, {"scripts": ["../x"]}, 1),
                         LuaScriptError)]:
        with pytest.raises(error):
            call()


def test_without_lupa_the_error_names_the_script_and_the_extra(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "lupa", None)
    with pytest.raises(ModuleNotFoundError, match=r'script\.lua: .*pip install "vandrel\[lua\]"'):
        LuaScripts([tmp_path / "script.lua"], 1)
