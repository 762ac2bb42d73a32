"""Prints why each skipped C++ test was skipped: ctest names them but keeps their
messages in its log. A GoogleTest skip's reason is the line after "...: Skipped"; a
program that exits with the skip code says "skipped" in its own line.

Usage: python ctest_skips.py BUILD_DIR
"""

import pathlib
import re
import sys

BLOCK = re.compile(r"^\d+/\d+ Test: (?P<name>.+?)\n.*?^Output:\n-+\n(?P<output>.*?)^<end of output>",
                   re.S | re.M)


def reasons(log):
    for block in BLOCK.finditer(log):
        lines = block["output"].splitlines()
        for i, line in enumerate(lines):
            if line.endswith(": Skipped") and i + 1 < len(lines):
                yield block["name"], lines[i + 1]
                break
            if "skipped" in line and not line.startswith("["):
                yield block["name"], line
                break


def main():
    log = pathlib.Path(sys.argv[1], "Testing", "Temporary", "LastTest.log")
    if not log.exists():
        return
    for name, reason in reasons(log.read_text(errors="replace")):
        print(f"SKIPPED {name}: {reason}")


if __name__ == "__main__":
    main()
