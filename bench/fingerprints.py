"""Records or checks the equivalence guard's golden fingerprints.

Usage: fingerprints.py [--record] [--build DIR] [--frames N] [NAME...]

Runs vandrel_fingerprint (from the C++ test build, build/tests by default) on every
cartridge of tests/fingerprints/cartridges.txt, or on the named ones, two at a time.
Without --record it compares with the golden files and names the first frame that
differs; with --record it writes them. Record only from a core whose results are known
to be right: the goldens are what every later change must reproduce.
"""

import argparse
import concurrent.futures
import os
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
GOLDEN = ROOT / "tests" / "fingerprints"


def public_test_roms():
    """$VANDREL_TEST_ROMS when it is set, else ../shared/roms beside the project."""
    chosen = os.environ.get("VANDREL_TEST_ROMS")
    return pathlib.Path(chosen) if chosen else ROOT.parent / "shared" / "roms"


def cartridges(build):
    prefixes = {"shared/": public_test_roms(), "asm/": build / "tests" / "cpp" / "asm"}
    for line in (GOLDEN / "cartridges.txt").read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        name, path, *mode = line.split()
        for prefix, folder in prefixes.items():
            if path.startswith(prefix):
                yield name, folder / path[len(prefix):], mode
                break
        else:
            yield name, ROOT / path, mode


def run_one(tool, name, cartridge, accuracy, frames, record):
    golden = GOLDEN / f"{name}.txt"
    mode = "--write" if record else "--check"
    flags = ["--hardware"] if accuracy == ["hardware"] else []
    result = subprocess.run([str(tool), str(cartridge), str(frames), mode, str(golden), *flags],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if result.returncode == 77 or not cartridge.exists():
        return name, "skipped (absent)", True
    if result.returncode != 0:
        return name, result.stderr.strip(), False
    return name, "recorded" if record else "same", True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("names", nargs="*")
    parser.add_argument("--record", action="store_true")
    parser.add_argument("--build", default=str(ROOT / "build" / "tests"))
    parser.add_argument("--frames", type=int, default=3000)
    args = parser.parse_args()
    build = pathlib.Path(args.build)
    tool = build / "bench" / "vandrel_fingerprint"
    if not tool.exists():
        sys.exit(f"error: {tool} is missing; build the C++ tests first (scripts/test.sh)")
    chosen = [(n, c, a) for n, c, a in cartridges(build) if not args.names or n in args.names]
    ok = True
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        jobs = [pool.submit(run_one, tool, n, c, a, args.frames, args.record) for n, c, a in chosen]
        for job in jobs:
            name, verdict, good = job.result()
            ok &= good
            print(f"{name:21} {verdict}")
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
