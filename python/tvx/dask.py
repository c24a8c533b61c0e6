"""tvx.batch spread over the workers of a dask.distributed cluster.

    from dask.distributed import Client
    client = Client("tcp://scheduler:8786")       # or Client(LocalCluster(n_workers=2, threads_per_worker=1))
    res = tvx.dask.batch(client, "/data/env.obj", "/data/rob.obj", poses, type="exact")
    res = tvx.dask.batch(client, tvx.Mesh(points, triangles), "/data/rob.obj", poses)

Each of the two meshes is a file path or a tvx.Mesh held in memory. The
poses are cut into chunks of chunk_size; each chunk is one task. A path is
read by each worker the first time a chunk reaches it, so it must name the
same file on every worker (a shared file system, or the same copy on each
machine). A tvx.Mesh is pickled (points, triangles and source; not its tree)
and sent to every worker once per call, not with each chunk. Either way a
worker builds a mesh's tree once and keeps the mesh for the chunks after, and
for later calls: a file is known by its path, size and modification time, a
mesh by a hash of its points and triangles. Each task runs tvx.batch with
threads_per_task threads (1 by default: a worker with n threads runs n
chunks at once, each without the GIL). The result is the BatchResult of
tvx.batch, in pose order, identical to a local run.
"""

import hashlib
import os
import threading

import numpy as _np

import tvx as _tvx

# The worker's meshes with their trees built, by file (path, mtime, size) or
# by content key (a string); they stay for as long as the worker lives.
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


def _held(key, mesh):
    """The worker's mesh of content key: the first copy that arrived, built once.

    Later copies of the same content (a later call, or a copy the worker
    fetched again) are dropped in favour of the one whose tree is built.
    """
    with _meshes_lock:
        held = _meshes.get(key)
        if held is None:
            mesh.build_tree()
            _meshes[key] = held = mesh
        return held


def _content_key(mesh):
    """A key that equal meshes share: the tree is a function of the stored floats and ranks alone."""
    points, triangles = mesh.points, mesh.triangles
    h = hashlib.sha256()
    h.update(_np.array(points.shape + triangles.shape, dtype=_np.int64).tobytes())
    h.update(points.tobytes())
    h.update(triangles.tobytes())
    return "tvx-mesh-" + h.hexdigest()


def _run_chunk(a_ref, a_mesh, b_ref, b_mesh, poses, type, threads, tolerance_a, tolerance_b):
    # A mesh comes with its content key; a path comes alone (mesh None).
    a = _mesh(a_ref) if a_mesh is None else _held(a_ref, a_mesh)
    b = _mesh(b_ref) if b_mesh is None else _held(b_ref, b_mesh)
    r = _tvx.batch(a, b, poses, type=type, threads=threads, tolerance_a=tolerance_a, tolerance_b=tolerance_b)
    return {f: getattr(r, f) for f in _tvx.BatchResult.FIELDS}


def batch(client, a, b, poses_b, type="exact", chunk_size=5000, threads_per_task=1,
          tolerance_a=0.0, tolerance_b=0.0):
    """tvx.batch(a, b, poses_b, ...) on the client's cluster.

    a and b are each a tvx.Mesh or the path of a mesh file that every worker
    can read (as tvx.Mesh.load(path)).
    """
    if type not in _tvx.TYPES:
        raise ValueError("type must be one of 'first', 'all', 'exact', 'estimated', not %r" % (type,))
    if int(chunk_size) < 1:
        raise ValueError("chunk_size must be at least 1")
    # Every pose is checked (and 6-number poses turned into matrices) here,
    # so that a bad pose fails at once, not in a worker.
    poses = _tvx.pose_matrices(poses_b)
    refs = []
    for mesh in (a, b):
        if isinstance(mesh, _tvx.Mesh):
            refs.append([_content_key(mesh), mesh])
            continue
        path = os.fspath(mesh)
        if not os.path.exists(path):
            raise FileNotFoundError("%s: no such file" % path)
        refs.append([os.path.abspath(path), None])
    # Each in-memory mesh goes to every worker once (once for both when a
    # and b are equal), and the tasks name it by its future. Its dask key is
    # new each call: a key scattered again while the cluster still forgets
    # the last call's copy would be lost with it.
    sent = {}
    for ref in refs:
        if ref[1] is not None:
            if ref[0] not in sent:
                sent[ref[0]] = client.scatter(ref[1], broadcast=True, hash=False)
            ref[1] = sent[ref[0]]
    n = len(poses)
    step = int(chunk_size)
    # The chunks go straight to the workers, not through the scheduler with
    # the tasks; each task then runs where its chunk is.
    chunks = client.scatter([poses[i:i + step] for i in range(0, n, step)])
    (a_ref, a_mesh), (b_ref, b_mesh) = refs
    futures = [
        client.submit(_run_chunk, a_ref, a_mesh, b_ref, b_mesh, chunk, type, threads_per_task, tolerance_a,
                      tolerance_b, pure=False)
        for chunk in chunks
    ]
    parts = client.gather(futures)
    return _tvx.BatchResult.concatenate(_tvx.BatchResult(**p) for p in parts)
