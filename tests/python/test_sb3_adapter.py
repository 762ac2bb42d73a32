"""SB3VecEnv: NESVectorEnv as a Stable-Baselines3 VecEnv. Episode ends are checked
against a bare NESVectorEnv stepped in lockstep: its NEXT_STEP reset gives the first
observation the adapter must return one step earlier."""
import subprocess
import sys

import numpy as np
import pytest

pytest.importorskip("stable_baselines3", reason='needs Stable-Baselines3: pip install ".[sb3]"')

import gymnasium as gym  # noqa: E402
from vandrel_gym import NESVectorEnv  # noqa: E402
from vandrel_gym.sb3 import SB3VecEnv  # noqa: E402


def consoles(demo, **options):
    """Two consoles: console 1's game ends at its second step, console 0 is cut short at
    its third (12 frames)."""
    steps = [0]

    def ended(ram):
        steps[0] += 1
        return np.array([False, steps[0] == 2])
    return NESVectorEnv(demo, num_envs=2, obs_type="ram", max_episode_frames=12,
                        repeat_action_probability=0.0, noop_max=0, terminated_fn=ended,
                        reward_fn=lambda ram, previous: ram[:, 7] - previous[:, 7].astype(float),
                        **options)


def test_an_ended_episode_restarts_within_the_step(demo):
    adapter, bare = SB3VecEnv(consoles(demo)), consoles(demo)
    adapter.seed(5)
    assert np.array_equal(adapter.reset(), bare.reset(seed=5)[0])
    right = np.array([1, 1])
    bare_steps = [bare.step(right) for _ in range(4)]
    for step, (done, truncated) in enumerate([([0, 0], [0, 0]), ([0, 1], [0, 0]),
                                              ([1, 0], [1, 0])]):
        observations, rewards, dones, infos = adapter.step(right)
        assert observations.shape == (2, 2048) and observations.dtype == np.uint8
        assert rewards.dtype == np.float32 and dones.dtype == bool
        assert dones.tolist() == [bool(d) for d in done]
        assert [i["TimeLimit.truncated"] for i in infos] == [bool(t) for t in truncated]
        for console in np.flatnonzero(dones):
            # the episode's last observation, then the next episode's first
            assert np.array_equal(infos[console]["terminal_observation"],
                                  bare_steps[step][0][console])
            assert np.array_equal(observations[console], bare_steps[step + 1][0][console])
            assert adapter.reset_infos[console]["frame"] == 0
        assert all(("terminal_observation" in i) == d for i, d in zip(infos, dones))
    adapter.close()


def test_the_shared_vector_env_answers_for_every_console(demo):
    adapter = SB3VecEnv(consoles(demo, render_mode="rgb_array"))
    adapter.reset()
    assert adapter.get_attr("accuracy") == ["hardware"] * 2
    assert adapter.env_method("get_action_meanings", indices=[1])[0][:2] == ["noop", "right"]
    assert adapter.env_is_wrapped(NESVectorEnv) == [True, True]
    assert adapter.env_is_wrapped(gym.vector.VectorWrapper) == [False, False]
    adapter.set_attr("copy", False)
    assert adapter.vector_env.copy is False
    assert [image.shape for image in adapter.get_images()] == [(240, 256, 3)] * 2
    assert adapter.render("rgb_array").shape == (480, 256, 3)     # tiled
    with pytest.raises(ValueError, match="share one vector environment"):
        adapter.set_attr("copy", True, indices=[0])
    with pytest.raises(IndexError):
        adapter.get_attr("accuracy", indices=[2])
    with pytest.raises(TypeError):
        SB3VecEnv(gym.make("CartPole-v1"))
    same_step = gym.vector.SyncVectorEnv([lambda: gym.make("CartPole-v1")],
                                         autoreset_mode=gym.vector.AutoresetMode.SAME_STEP)
    with pytest.raises(ValueError, match="NEXT_STEP"):
        SB3VecEnv(same_step)


def test_ppo_learns_on_ram_observations(demo):
    from stable_baselines3 import PPO
    adapter = SB3VecEnv(NESVectorEnv(demo, num_envs=2, obs_type="ram", max_episode_frames=40,
                                     actions=[(), ("right",), ("left",)]))
    model = PPO("MlpPolicy", adapter, n_steps=32, batch_size=32, n_epochs=1, seed=0)
    model.learn(total_timesteps=128)
    actions, _ = model.predict(adapter.reset(), deterministic=True)
    assert actions.shape == (2,)
    adapter.close()


def test_importing_vandrel_gym_leaves_stable_baselines3_alone():
    code = "import sys, vandrel_gym; print('stable_baselines3' in sys.modules)"
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env={"PYTHONPATH": ":".join(sys.path)}, timeout=120)
    assert done.stdout.strip() == "False", done.stderr
