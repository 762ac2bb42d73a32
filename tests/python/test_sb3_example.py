"""examples/sb3_ppo.py: Stable-Baselines3's PPO with CnnPolicy trains on stacked,
channelled grayscale NESEnv observations through make_vec_env. The example tests skip,
rather than fail, where something their example imports cannot be imported."""
import pytest
from conftest import needs_modules, run_example


def test_the_stable_baselines3_example_trains(tmp_path):
    needs_modules("gymnasium", "stable_baselines3", "stable_baselines3.common.env_util",
                  "vandrel_gym", "vandrel_tools.demo", install='pip install ".[sb3]"')
    output = run_example("sb3_ppo.py", "--steps", "2048", folder=tmp_path)
    assert "trained 2048 steps" in output


@pytest.mark.parametrize("package, error", [
    # found, but one of its own imports is missing (RLlib without dm-tree)
    ("import vandrel_absent_dependency\n", "No module named 'vandrel_absent_dependency'"),
    ("raise ImportError('cannot import name x')\n", "cannot import name x"),
    (None, "No module named 'vandrel_fake_library'"),        # not installed at all
    ("", None),                                               # imports: the test runs
])
def test_an_example_test_skips_on_any_import_its_example_cannot_make(
        tmp_path, monkeypatch, package, error):
    if package is not None:
        (tmp_path / "vandrel_fake_library").mkdir()
        (tmp_path / "vandrel_fake_library" / "__init__.py").write_text(package)
        (tmp_path / "vandrel_fake_library" / "part.py").write_text("")
    monkeypatch.syspath_prepend(tmp_path)
    if error is None:
        needs_modules("json", "vandrel_fake_library.part", install="nothing")
    else:
        with pytest.raises(pytest.skip.Exception, match=error):
            needs_modules("json", "vandrel_fake_library.part", install="nothing")
