"""tvx.dask.batch on a two-process LocalCluster against a local tvx.batch."""

import numpy as np
import pytest

import tvx
from conftest import random_poses, torus, uv_sphere, write_obj

distributed = pytest.importorskip("distributed")
import tvx.dask  # noqa: E402


def test_two_process_cluster_answers_as_a_local_batch(tmp_path):
    a_path = write_obj(tmp_path / "torus.obj", *torus())
    b_path = write_obj(tmp_path / "sphere.obj", *uv_sphere())
    rng = np.random.default_rng(8)
    poses = random_poses(rng, 500, 1.6)
    a, b = tvx.Mesh.load(a_path), tvx.Mesh.load(b_path)
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None, silence_logs=40)
    try:
        with distributed.Client(cluster) as client:
            for kind in ("exact", "all"):
                want = tvx.batch(a, b, poses, type=kind, tolerance_a=0.02)
                got = tvx.dask.batch(client, a_path, b_path, poses, type=kind, chunk_size=37, tolerance_a=0.02)
                for f in tvx.BatchResult.FIELDS:
                    assert np.array_equal(getattr(got, f), getattr(want, f), equal_nan=getattr(want, f).dtype.kind == "f"), f
            # 2 x 14 chunks, and each worker read each mesh once.
            cached = client.run(lambda: len(tvx.dask._meshes))
            assert sorted(cached.values()) == [2, 2]
            with pytest.raises(FileNotFoundError):
                tvx.dask.batch(client, str(tmp_path / "none.obj"), b_path, poses)
            with pytest.raises(ValueError, match="pose 0"):
                tvx.dask.batch(client, a_path, b_path, np.tile(np.diag([1.0, 2, 1, 1]), (3, 1, 1)))
    finally:
        cluster.close()
