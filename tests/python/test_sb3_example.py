"""examples/sb3_ppo.py: Stable-Baselines3's PPO with CnnPolicy trains on stacked,
channelled grayscale NESEnv observations through make_vec_env."""
import importlib.util

import pytest
from conftest import run_example


@pytest.mark.skipif(importlib.util.find_spec("stable_baselines3") is None,
                    reason='Stable-Baselines3 is not installed: pip install "vandrel[sb3]"')
def test_the_stable_baselines3_example_trains(tmp_path):
    output = run_example("sb3_ppo.py", "--steps", "2048", folder=tmp_path)
    assert "trained 2048 steps" in output
