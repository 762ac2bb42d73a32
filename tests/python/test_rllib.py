"""vandrel_gym.rllib: the environment RLlib's runners build from env_config, its
registration, and the example that trains on it (run only where RLlib is installed)."""

import numpy as np
import pytest
from conftest import import_error, needs_modules, run_example

gym = pytest.importorskip("gymnasium")

from vandrel_gym import Cartridge, NESEnv  # noqa: E402
from vandrel_gym.rllib import make_env, register  # noqa: E402


@pytest.mark.parametrize("obs_type", ["ram", "grayscale"])
def test_runners_get_float_observations_of_the_same_console(demo, obs_type):
    config = {"rom": Cartridge.read(demo), "obs_type": obs_type, "start_frames": 30}
    env = make_env(config)
    assert env.observation_space.dtype == np.float32
    plain = NESEnv(**config)
    scaled, _ = env.reset(seed=3)
    raw, _ = plain.reset(seed=3)
    for action in (1, 2, 3):
        assert scaled in env.observation_space
        np.testing.assert_array_equal(scaled, raw.astype(np.float32) / 255)
        scaled, raw = env.step(action)[0], plain.step(action)[0]
    assert make_env(config, float_observations=False).observation_space.dtype == np.uint8


def test_registering_without_rllib_says_what_to_install():
    if import_error("ray.tune") is None:
        pytest.skip("ray.tune can be imported")
    with pytest.raises(ImportError, match=r'pip install "\.\[rllib\]"'):
        register()


def test_the_rllib_example_samples_and_trains(tmp_path):
    # What examples/rllib_sample.py imports, and the PyTorch its PPO trains with.
    needs_modules("ray", "ray.rllib.algorithms.ppo", "torch", "vandrel_gym.rllib",
                  "vandrel_tools.demo", install='pip install ".[rllib]"')
    output = run_example("rllib_sample.py", "--iterations", "1", folder=tmp_path)
    assert "environment steps sampled by 2 runners" in output
