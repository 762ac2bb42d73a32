"""examples/sb3_ppo.py: Stable-Baselines3's PPO with CnnPolicy trains on stacked,
channelled grayscale NESEnv observations through make_vec_env."""
import importlib.util
import pathlib
import subprocess
import sys

import pytest

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "sb3_ppo.py"


@pytest.mark.skipif(importlib.util.find_spec("stable_baselines3") is None,
                    reason='Stable-Baselines3 is not installed: pip install "vandrel[sb3]"')
def test_the_stable_baselines3_example_trains(tmp_path):
    done = subprocess.run([sys.executable, str(EXAMPLE), "--steps", "2048"], cwd=tmp_path,
                          capture_output=True, text=True, timeout=600,
                          env={"HOME": str(tmp_path), "PATH": "/usr/bin:/bin"})
    assert done.returncode == 0, done.stderr[-3000:]
    assert "trained 2048 steps" in done.stdout
