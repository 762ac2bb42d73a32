"""RayVectorEnv on a cluster of two Ray nodes joined by address (both on this machine,
as `ray start --head` and `ray start --address` would make them): the actors spread over
the nodes and give the results of one process."""

import os

import numpy as np
import pytest

os.environ.setdefault("RAY_ENABLE_WINDOWS_OR_OSX_CLUSTER", "0")    # the loopback address

pytest.importorskip("gymnasium")
ray = pytest.importorskip("ray")
cluster_utils = pytest.importorskip("ray.cluster_utils")

from vandrel_gym import NESVectorEnv  # noqa: E402
from vandrel_gym.cluster import RayVectorEnv  # noqa: E402


@pytest.fixture(scope="module")
def two_nodes(ray_home):
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("HOME", str(ray_home))
        cluster = cluster_utils.Cluster(initialize_head=True, head_node_args={"num_cpus": 1})
        try:
            cluster.add_node(num_cpus=1)
            cluster.wait_for_nodes()
            ray.init(address=cluster.address, configure_logging=False, log_to_driver=False)
            yield cluster
        finally:
            ray.shutdown()
            cluster.shutdown()


def test_actors_spread_over_the_nodes_and_match_one_process(two_nodes, demo):
    options = {"obs_type": "ram", "start_frames": 30, "noop_max": 4,
               "repeat_action_probability": 0.25}
    env = RayVectorEnv(demo, 2, 2, **options)
    try:
        assert len(set(env.actor_nodes)) == 2, "both actors were placed on one node"
        one = NESVectorEnv(demo, 4, **options)
        np.testing.assert_array_equal(env.reset(seed=21)[0], one.reset(seed=21)[0])
        for step in range(10):
            actions = np.array([step % 3, 4, 1, step % 7])
            for ours, theirs in zip(env.step(actions)[:4], one.step(actions)[:4]):
                np.testing.assert_array_equal(ours, theirs)
    finally:
        env.close()
