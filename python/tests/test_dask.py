"""tvx.dask.batch on a two-process LocalCluster against a local tvx.batch,
with meshes given as paths and as tvx.Mesh objects held in memory, and the
workers' mesh cache kept within its bound."""

import copyreg
import os
import threading
import time

import numpy as np
import pytest

import tvx
from conftest import random_poses, ring_and_ball, small_pair, torus, uv_sphere, write_obj

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
    info = tvx.dask.cache_info(client).values()
    return sorted(i["files"] if kind is tuple else i["meshes"] - i["files"] for i in info)


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
    # The same poses again and again, each call's chunks scattered while the
    # last call's are released: none may be lost with the other's.
    want = tvx.batch(a, b, poses[:40], type="first")
    for _ in range(40):
        check_same(tvx.dask.batch(client, a_path, b_path, poses[:40], type="first", chunk_size=10), want)
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
        # Bodies of parts, one part on both sides.
        sent.clear()
        parts = [tvx.Mesh(*part) for part in ring_and_ball().values()]
        check_same(tvx.dask.batch(client, parts, [b, parts[1]], poses, type="all", chunk_size=50),
                   tvx.batch(parts, [b, parts[1]], poses, type="all"))
        assert sorted(sent) == sorted(map(id, parts + [b])) and max(sent.values()) <= 2, sent
    finally:
        del copyreg.dispatch_table[tvx.Mesh]
    # Five calls, and each worker built a tree once for each of the four meshes.
    assert cached(client, str) == [4, 4]
    with pytest.raises(TypeError):
        tvx.dask.batch(client, a, 3, poses)


def test_the_cache_stays_within_its_bound_and_answers_after_evictions(client, tmp_path):
    rng = np.random.default_rng(10)
    poses = random_poses(rng, 120, 1.6)
    # Tori of different sizes, each its own content, and a sphere given by path.
    tori = [tvx.Mesh(*torus(n_major=18 + 3 * i)) for i in range(6)]
    sphere = tvx.Mesh(*uv_sphere())
    sphere_path = write_obj(tmp_path / "sphere.obj", *uv_sphere())
    for m in tori + [sphere]:
        m.build_tree()
    # The default: a quarter of what dask lets each worker hold.
    limits = client.run(lambda dask_worker: dask_worker.memory_manager.memory_limit)
    bounds = {w: i["bound"] for w, i in tvx.dask.cache_info(client).items()}
    assert bounds == {w: int(limit * tvx.dask.CACHE_SHARE_OF_MEMORY_LIMIT) for w, limit in limits.items()}
    try:
        # Room for the sphere and about two tori: every call past the second evicts.
        bound = sphere.nbytes + 2 * tori[-1].nbytes + 100
        for a in tori:
            check_same(tvx.dask.batch(client, a, sphere, poses, type="exact", chunk_size=30, cache_bytes=bound),
                       tvx.batch(a, sphere, poses, type="exact"))
            for info in tvx.dask.cache_info(client).values():
                assert info["bound"] == bound and 0 < info["bytes"] <= bound, info
        assert sum(i["evicted"] for i in tvx.dask.cache_info(client).values()) >= 4
        # The least recently used goes first: with room for the sphere and
        # two of three tori, the torus used again stays and the other goes.
        t_again, t_once, t_new = tori[3:]
        bound = sphere.nbytes + t_again.nbytes + t_once.nbytes + t_new.nbytes - 1
        client.run(tvx.dask._set_bound, 0)
        for a in (t_again, t_once, t_again, t_new):
            check_same(tvx.dask.batch(client, a, sphere, poses, type="first", chunk_size=30, cache_bytes=bound),
                       tvx.batch(a, sphere, poses, type="first"))
        want = tuple(sorted(tvx.dask._content_key(m) for m in (sphere, t_again, t_new)))
        assert set(client.run(lambda: tuple(sorted(tvx.dask._cache.entries))).values()) <= {want, ()}
        # Each of a chunk's meshes fits, both do not: the second drops the
        # first while the chunk still answers with it.
        a = tori[-1]
        bound = max(a.nbytes, sphere.nbytes) + 1
        for kind in ("all", "exact"):
            check_same(tvx.dask.batch(client, a, sphere_path, poses, type=kind, chunk_size=30, cache_bytes=bound),
                       tvx.batch(a, sphere, poses, type=kind))
        assert all(i["meshes"] <= 1 and i["bytes"] <= bound for i in tvx.dask.cache_info(client).values())
        # No room at all: nothing is kept, every chunk still answers.
        check_same(tvx.dask.batch(client, sphere_path, a, poses, type="first", chunk_size=30, cache_bytes=0),
                   tvx.batch(sphere, a, poses, type="first"))
        assert all(i["meshes"] == 0 and i["bytes"] == 0 for i in tvx.dask.cache_info(client).values())
        # The environment names the bound when no call has.
        client.run(tvx.dask._set_bound, None)
        client.run(lambda: os.environ.__setitem__(tvx.dask.ENV_CACHE_BYTES, "3 kB"))
        assert all(i["bound"] == 3000 for i in tvx.dask.cache_info(client).values())
        for bad in (-1, 2.5, "lots"):
            with pytest.raises(ValueError, match="cache_bytes"):
                tvx.dask.batch(client, a, sphere, poses, cache_bytes=bad)
    finally:
        client.run(lambda: os.environ.pop(tvx.dask.ENV_CACHE_BYTES, None))
        client.run(tvx.dask._set_bound, None)


def test_settings_and_parts_of_files_are_cached_apart_and_answer_as_local_batches(client, tmp_path):
    a_path, b_path, poses = small_pair(tmp_path)
    poses = np.array(poses * 20)
    before = cached(client, tuple)
    for on in (False, True):
        a, b = tvx.Mesh.load(a_path, scale_free_axes=on), tvx.Mesh.load(b_path, scale_free_axes=on)
        for kind in ("all", "exact"):
            check_same(tvx.dask.batch(client, a_path, b_path, poses, type=kind, chunk_size=15, scale_free_axes=on),
                       tvx.batch(a, b, poses, type=kind))
        check_same(tvx.dask.batch(client, a, b, poses, type="first", chunk_size=15), tvx.batch(a, b, poses, type="first"))
    # Each file read under each setting, each mesh held under each: four of each kind more.
    assert [n - m for n, m in zip(cached(client, tuple), before)] == [4, 4]
    keys = set().union(*client.run(lambda: tuple(k for k in tvx.dask._cache.entries if isinstance(k, str))).values())
    assert len(keys) == 4 and sum(k.endswith("-scale-free-axes") for k in keys) == 2
    with pytest.raises(ValueError, match="scale_free_axes"):
        tvx.dask.batch(client, tvx.Mesh.load(a_path, scale_free_axes=True), b_path, poses)
    # A file of parts, read as parts by every worker, as Mesh.load(keep_parts=True) reads it.
    parts_path = write_obj(tmp_path / "parts.obj", None, None, ring_and_ball())
    sphere = tvx.Mesh(*uv_sphere())
    rng = np.random.default_rng(12)
    many = random_poses(rng, 200, 1.6)
    check_same(tvx.dask.batch(client, parts_path, sphere, many, type="all", chunk_size=40, keep_parts=True),
               tvx.batch(tvx.Mesh.load(parts_path, keep_parts=True), sphere, many, type="all"))


def test_a_slow_build_holds_up_only_those_who_need_its_mesh(monkeypatch, tmp_path):
    """Cache hits go on during a build; a second thread needing the mesh waits for that one build."""
    cache = tvx.dask._MeshCache()
    cache.bound = 1 << 30
    monkeypatch.setattr(tvx.dask, "_cache", cache)
    path = write_obj(tmp_path / "sphere.obj", *uv_sphere())
    other = write_obj(tmp_path / "torus.obj", *torus())
    hit = tvx.dask._file(other)
    started, release = threading.Event(), threading.Event()
    reads = []
    real_read = tvx.dask._read

    def slow_read(*args):
        reads.append(args)
        started.set()
        assert release.wait(10)
        return real_read(*args)

    monkeypatch.setattr(tvx.dask, "_read", slow_read)
    got = {}
    threads = [threading.Thread(target=lambda k=k: got.__setitem__(k, tvx.dask._file(path))) for k in range(2)]
    threads[0].start()
    assert started.wait(30)
    threads[1].start()
    # While the build is held, a cached mesh is answered at once, by the cache's own path.
    t0 = time.monotonic()
    assert tvx.dask._file(other) is hit
    assert time.monotonic() - t0 < 5
    assert not got and threads[1].is_alive()
    release.set()
    for t in threads:
        t.join(30)
    assert len(reads) == 1 and got[0] is got[1] and got[0].n_triangles == uv_sphere()[1].shape[0]
    assert list(cache.entries)[-1][0] == os.path.abspath(path) and cache.builds == 2
    # A failed build fails its waiters too, and the next request builds afresh.
    monkeypatch.setattr(tvx.dask, "_read", lambda *args: (_ for _ in ()).throw(OSError("gone")))
    with pytest.raises(OSError, match="gone"):
        tvx.dask._file(path, keep_parts=True)
    assert not cache.building and len(cache.entries) == 2
