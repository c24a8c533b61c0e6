"""tvx.batch spread over the workers of a dask.distributed cluster.

    from dask.distributed import Client
    client = Client("tcp://scheduler:8786")       # or Client(LocalCluster(n_workers=2, threads_per_worker=1))
    res = tvx.dask.batch(client, "/data/env.obj", "/data/rob.obj", poses, type="exact")

The poses are cut into chunks of chunk_size; each chunk is one task. A worker
reads and builds the two meshes the first time a chunk reaches it and keeps
them for the chunks after (so the paths must name the same files on every
worker: a shared file system, or the same copy on each machine). Each task
runs tvx.batch with threads_per_task threads (1 by default: a worker with n
threads runs n chunks at once, each without the GIL). The result is the
BatchResult of tvx.batch, in pose order, identical to a local run.
"""

import os
import threading

import numpy as _np

import tvx as _tvx

_meshes = {}
_meshes_lock = threading.Lock()


def _mesh(path):
    """The worker's mesh for path, read and built once (again if the file changed)."""
    st = os.stat(path)
    key = (os.path.abspath(path), st.st_mtime_ns, st.st_size)
    with _meshes_lock:
        mesh = _meshes.get(key)
        if mesh is None:
            mesh = _tvx.Mesh.load(path)
            mesh.build_tree()
            _meshes[key] = mesh
        return mesh


def _run_chunk(a_path, b_path, poses, type, threads, tolerance_a, tolerance_b):
    a = _mesh(a_path)
    b = _mesh(b_path)
    r = _tvx.batch(a, b, poses, type=type, threads=threads, tolerance_a=tolerance_a, tolerance_b=tolerance_b)
    return {f: getattr(r, f) for f in _tvx.BatchResult.FIELDS}


def batch(client, a_path, b_path, poses_b, type="exact", chunk_size=5000, threads_per_task=1,
          tolerance_a=0.0, tolerance_b=0.0):
    """tvx.batch(Mesh.load(a_path), Mesh.load(b_path), poses_b, ...) on the client's cluster."""
    if type not in _tvx.TYPES:
        raise ValueError("type must be one of 'first', 'all', 'exact', 'estimated', not %r" % (type,))
    if int(chunk_size) < 1:
        raise ValueError("chunk_size must be at least 1")
    # Every pose is checked (and 6-number poses turned into matrices) here,
    # so that a bad pose fails at once, not in a worker.
    poses = _tvx.pose_matrices(poses_b)
    for path in (a_path, b_path):
        if not os.path.exists(path):
            raise FileNotFoundError("%s: no such file" % path)
    a_path = os.path.abspath(a_path)
    b_path = os.path.abspath(b_path)
    n = len(poses)
    step = int(chunk_size)
    # The chunks go straight to the workers, not through the scheduler with
    # the tasks; each task then runs where its chunk is.
    chunks = client.scatter([poses[i:i + step] for i in range(0, n, step)])
    futures = [
        client.submit(_run_chunk, a_path, b_path, chunk, type, threads_per_task, tolerance_a, tolerance_b,
                      pure=False)
        for chunk in chunks
    ]
    parts = client.gather(futures)
    return _tvx.BatchResult.concatenate(_tvx.BatchResult(**p) for p in parts)
