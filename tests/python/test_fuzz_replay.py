"""The Python fuzz harnesses' seeds and regression inputs, replayed without atheris (as
ctest's fuzz.replay does for the C++ harnesses)."""
import importlib.util
import pathlib

FUZZ = pathlib.Path(__file__).resolve().parents[2] / "fuzz"


def harness(name):
    spec = importlib.util.spec_from_file_location(f"fuzz_{name}", FUZZ / f"{name}.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def regressions(name):
    folder = FUZZ / "regressions" / name
    return sorted(p for p in folder.iterdir() if not p.name.startswith("."))


def test_integration_folder_seeds_and_regressions(tmp_path):
    folder, workspace = harness("integration_folder"), tmp_path / "work"
    workspace.mkdir()
    kept = [path.read_bytes() for path in regressions("integration_folder")]
    for data in [*folder.seeds().values(), *kept]:
        folder.check(data, workspace)
    assert not list(workspace.iterdir())    # every input's folder is removed
