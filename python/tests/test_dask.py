"""tvx.dask.batch on a two-process LocalCluster against a local tvx.batch,
with meshes given as paths and as tvx.Mesh objects held in memory."""

import copyreg

import numpy as np
import pytest

import tvx
from conftest import random_poses, torus, uv_sphere, write_obj

distributed = pytest.importorskip("distributed")
import tvx.dask  # noqa: E402


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None, silence_logs=40)
    try:
        with distributed.Client(cluster) as c:
            yield c
    finally:
        cluster.close()


def check_same(got, want):
    for f in tvx.BatchResult.FIELDS:
        assert np.array_equal(getattr(got, f), getattr(want, f), equal_nan=getattr(want, f).dtype.kind == "f"), f


def cached(client, kind):
    """How many meshes each worker keeps: read from files (kind tuple) or sent in memory (str)."""
    return sorted(client.run(lambda: sum(isinstance(k, kind) for k in tvx.dask._meshes)).values())


def test_two_process_cluster_answers_as_a_local_batch(client, tmp_path):
    a_path = write_obj(tmp_path / "torus.obj", *torus())
    b_path = write_obj(tmp_path / "sphere.obj", *uv_sphere())
    rng = np.random.default_rng(8)
    poses = random_poses(rng, 500, 1.6)
    a, b = tvx.Mesh.load(a_path), tvx.Mesh.load(b_path)
    for kind in ("exact", "all"):
        want = tvx.batch(a, b, poses, type=kind, tolerance_a=0.02)
        check_same(tvx.dask.batch(client, a_path, b_path, poses, type=kind, chunk_size=37, tolerance_a=0.02), want)
    # 2 x 14 chunks, and each worker read each mesh once.
    assert cached(client, tuple) == [2, 2]
    with pytest.raises(FileNotFoundError):
        tvx.dask.batch(client, str(tmp_path / "none.obj"), b_path, poses)
    with pytest.raises(ValueError, match="pose 0"):
        tvx.dask.batch(client, a_path, b_path, np.tile(np.diag([1.0, 2, 1, 1]), (3, 1, 1)))


def test_meshes_in_memory_travel_once_and_answer_as_a_local_batch(client, tmp_path):
    rng = np.random.default_rng(9)
    points, triangles = torus()
    a = tvx.Mesh(points + rng.uniform(-1e-3, 1e-3, points.shape), triangles)  # float32 rounds these
    b = tvx.Mesh(*uv_sphere())
    b_path = write_obj(tmp_path / "sphere.obj", *uv_sphere())
    poses = random_poses(rng, 500, 1.6)
    # Every time the client pickles a mesh, counted per mesh.
    sent = {}

    def counted(mesh):
        sent[id(mesh)] = sent.get(id(mesh), 0) + 1
        return mesh.__reduce_ex__(2)

    copyreg.pickle(tvx.Mesh, counted)
    try:
        for kind in ("exact", "all"):
            want = tvx.batch(a, b, poses, type=kind, tolerance_a=0.02)
            sent.clear()
            check_same(tvx.dask.batch(client, a, b, poses, type=kind, chunk_size=37, tolerance_a=0.02), want)
            # 14 chunks, and each mesh sent to each of the two workers at most once.
            assert sorted(sent) == sorted([id(a), id(b)]) and max(sent.values()) <= 2, sent
        # A mesh beside a path, and one mesh on both sides (sent once for both).
        check_same(tvx.dask.batch(client, a, b_path, poses, type="first", chunk_size=50),
                   tvx.batch(a, b, poses, type="first"))
        sent.clear()
        check_same(tvx.dask.batch(client, b, b, poses, type="exact", chunk_size=50),
                   tvx.batch(b, b, poses, type="exact"))
        assert list(sent) == [id(b)] and sent[id(b)] <= 2, sent
    finally:
        del copyreg.dispatch_table[tvx.Mesh]
    # Four calls, and each worker built a tree once for each of the two meshes.
    assert cached(client, str) == [2, 2]
    with pytest.raises(TypeError):
        tvx.dask.batch(client, a, 3, poses)
