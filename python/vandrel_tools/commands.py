"""Console-script entry points. The recorder, the player and the tools that open a
player window need the optional "tools" dependencies (Pillow, imageio, tqdm, pygame);
without them a command says so in one line instead of failing with a traceback."""
import importlib
import sys

_TOOLS_MISSING = ("{prog}: error: this command needs the tools extra ({error}); install it "
                  "from the vandrel checkout with: pip install '.[tools]'")


def _run(prog, module_name):
    try:
        module = importlib.import_module(f"vandrel_tools.{module_name}")
    except ImportError as error:
        if error.name in (None, "vandrel") or error.name.startswith("vandrel_tools"):
            raise
        print(_TOOLS_MISSING.format(prog=prog, error=error), file=sys.stderr)
        return 2
    return module.main()


def record():
    """vandrel-record."""
    return _run("vandrel-record", "recorder")


def play():
    """vandrel-play."""
    return _run("vandrel-play", "player")


def integrate():
    """vandrel-integrate."""
    return _run("vandrel-integrate", "integrate")


def ram_search():
    """vandrel-ram-search."""
    return _run("vandrel-ram-search", "ram_search")
