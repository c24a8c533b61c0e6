"""tvx.batch spread over the workers of a dask.distributed cluster.

    from dask.distributed import Client
    client = Client("tcp://scheduler:8786")       # or Client(LocalCluster(n_workers=2, threads_per_worker=1))
    res = tvx.dask.batch(client, "/data/env.obj", "/data/rob.obj", poses, type="exact")
    res = tvx.dask.batch(client, tvx.Mesh(points, triangles), "/data/rob.obj", poses)

Each of the two sides is a file path, a tvx.Mesh held in memory, or a list
of them (the parts of one body, as tvx.batch takes them). A path is read as
tvx.Mesh.load(path, keep_parts, scale_free_axes) with the call's keep_parts
and scale_free_axes; a tvx.Mesh keeps its own scale_free_axes, and every
mesh of a call must have the same (as for tvx.batch). The poses are cut
into chunks of chunk_size; each chunk is one task. A path is read by each
worker the first time a chunk reaches it, so it must name the same file on
every worker (a shared file system, or the same copy on each machine). A
tvx.Mesh is pickled (points, triangles, source and name; not its tree) and
sent to every worker once per call, not with each chunk. Either way a worker
builds a mesh's tree once and keeps the mesh for the chunks after, and for
later calls: a file is known by its path, size and modification time, and
how it is read (keep_parts, scale_free_axes), a mesh by a hash of its
points and triangles and its scale_free_axes (not its source or name, which
nothing a worker hands back names). Each task runs tvx.batch with
threads_per_task threads (1 by default: a worker with n threads runs n
chunks at once, each without the GIL). The result is the BatchResult of
tvx.batch, in pose order, identical to a local run.

What a worker keeps is bounded: the bytes of its meshes with their trees
(Mesh.nbytes) stay within a bound, the least recently used mesh going
first, and a mesh larger than the whole bound is used and not kept. The
bound is the cache_bytes of the last call that gave one (a number of bytes
or a size such as "2GiB"), else the worker's environment variable
TVX_DASK_CACHE_BYTES, else a quarter of the worker's memory limit, else
1 GiB. The cache only lets go of its reference: a mesh is freed once the
chunks running with it end. cache_info(client) tells each worker's meshes,
bytes, bound and evictions. A worker thread reading or building a mesh
does not hold up the others: they take what is cached meanwhile, and a
thread that needs the mesh being built waits for that build rather than
making its own.
"""

import collections
import hashlib
import os
import threading

import numpy as _np

import tvx as _tvx

# The bound of a worker's mesh cache when neither the caller nor the
# environment names one and dask gives the worker no memory limit.
DEFAULT_CACHE_BYTES = 1 << 30
# The share of the worker's memory limit that the cache may hold by default:
# the rest is for the chunks' poses and results, dask's own store and the
# trees of meshes in use that the cache has let go.
CACHE_SHARE_OF_MEMORY_LIMIT = 0.25
ENV_CACHE_BYTES = "TVX_DASK_CACHE_BYTES"


def _cache_bytes_of(value, what):
    """A cache bound in bytes: a whole number >= 0, or a string as dask reads sizes ("2GiB", "500 MB")."""
    if isinstance(value, str):
        from dask.utils import parse_bytes
        try:
            n = parse_bytes(value)
        except ValueError:
            n = -1
    else:
        try:
            n = int(value)
            if n != value or isinstance(value, bool):
                n = -1
        except (TypeError, ValueError, OverflowError):
            n = -1
    if n < 0:
        raise ValueError("%s must be a number of bytes >= 0 (or a size such as '2GiB'), not %r" % (what, value))
    return n


class _Build:
    """One build in flight: those who need its key wait for it, not for the cache's lock."""

    __slots__ = ("done", "value", "error")

    def __init__(self):
        self.done = threading.Event()
        self.value = None
        self.error = None


class _MeshCache:
    """A worker's meshes with their trees built, the least recently used out first.

    Keys are a file's (path, mtime_ns, size, keep_parts, scale_free_axes) or
    a content key (a string). A value is a mesh, or the list of a file's
    parts; it is counted by Mesh.nbytes (summed over parts) once its trees
    are built, and the sum stays within the bound: a value larger than the
    whole bound is answered with but not kept. Dropping a value drops the
    cache's reference only, so a chunk that holds it runs on with it and it
    is freed when the last chunk lets go.

    The lock guards the entries and the builds in flight, never a build:
    obtain() builds outside it, once per key at a time.
    """

    def __init__(self):
        self.lock = threading.Lock()
        self.entries = collections.OrderedDict()  # key -> (value, bytes), oldest use first
        self.building = {}  # key -> _Build, while its one build runs
        self.builds = 0  # builds run (not waited for), over the cache's life
        self.bytes = 0
        self.bound = None  # set by a caller; None: the environment's, or the worker's default
        self.evicted = 0

    def resolved_bound(self):
        if self.bound is not None:
            return self.bound
        env = os.environ.get(ENV_CACHE_BYTES)
        if env:
            return _cache_bytes_of(env, ENV_CACHE_BYTES)
        limit = None
        try:
            from distributed import get_worker
            limit = get_worker().memory_manager.memory_limit
        except (ImportError, ValueError, AttributeError):
            pass  # not in a dask worker, or a dask without a memory manager
        if limit:
            return int(limit * CACHE_SHARE_OF_MEMORY_LIMIT)
        return DEFAULT_CACHE_BYTES

    def obtain(self, key, build):
        """The value of key: the cached one, the one a build in flight makes, or build() run here.

        build() runs without the lock, so other threads' hits go on meanwhile;
        a thread asking for the same key waits for this build and gets its
        value (or its exception). The value is kept if it fits the bound.
        """
        with self.lock:
            entry = self.entries.get(key)
            if entry is not None:
                self.entries.move_to_end(key)
                return entry[0]
            pending = self.building.get(key)
            mine = pending is None
            if mine:
                pending = self.building[key] = _Build()
                self.builds += 1
        if not mine:
            pending.done.wait()
            if pending.error is not None:
                raise pending.error
            return pending.value
        try:
            pending.value = build()
        except BaseException as e:
            pending.error = e
            raise
        finally:
            with self.lock:
                del self.building[key]
                if pending.error is None:
                    self.put(key, pending.value)
            pending.done.set()
        return pending.value

    def put(self, key, value):
        size = sum(m.nbytes for m in value) if isinstance(value, list) else value.nbytes
        bound = self.resolved_bound()
        if size > bound:
            return
        old = self.entries.pop(key, None)
        if old is not None:
            self.bytes -= old[1]
        self.entries[key] = (value, size)
        self.bytes += size
        self.trim(bound)

    def trim(self, bound):
        while self.bytes > bound and self.entries:
            _, (_, size) = self.entries.popitem(last=False)
            self.bytes -= size
            self.evicted += 1

    def info(self):
        with self.lock:
            return {"meshes": len(self.entries), "files": sum(isinstance(k, tuple) for k in self.entries),
                    "bytes": self.bytes, "bound": self.resolved_bound(), "evicted": self.evicted}


_cache = _MeshCache()


def _read(path, keep_parts, scale_free_axes):
    """A file's mesh (or list of parts) with its trees built."""
    meshes = _tvx.Mesh.load(path, keep_parts=keep_parts, scale_free_axes=scale_free_axes)
    for m in meshes if keep_parts else [meshes]:
        m.build_tree()
    return meshes


def _file(path, keep_parts=False, scale_free_axes=False):
    """The worker's meshes of a file, read and built once while cached (again if the file changed).

    A list of parts with keep_parts, else one mesh.
    """
    st = os.stat(path)
    key = (os.path.abspath(path), st.st_mtime_ns, st.st_size, bool(keep_parts), bool(scale_free_axes))
    return _cache.obtain(key, lambda: _read(path, keep_parts, scale_free_axes))


def _built(mesh):
    mesh.build_tree()
    return mesh


def _held(key, mesh):
    """The worker's mesh of content key: the first copy that arrived while cached, built once.

    Later copies of the same content (a later call, or a copy the worker
    fetched again) are dropped in favour of the one whose tree is built.
    """
    return _cache.obtain(key, lambda: _built(mesh))


def _set_bound(cache_bytes):
    with _cache.lock:
        _cache.bound = cache_bytes
        _cache.trim(_cache.resolved_bound())


def _cache_info():
    return _cache.info()


def cache_info(client):
    """Each worker's mesh cache: {address: {"meshes", "files", "bytes", "bound", "evicted"}}."""
    return client.run(_cache_info)


def _content_key(mesh):
    """A key that equal meshes share: the tree is a function of the stored floats, ranks and setting alone."""
    points, triangles = mesh.points, mesh.triangles
    h = hashlib.sha256()
    h.update(_np.array(points.shape + triangles.shape, dtype=_np.int64).tobytes())
    h.update(points.tobytes())
    h.update(triangles.tobytes())
    return "tvx-mesh-" + h.hexdigest() + ("-scale-free-axes" if mesh.scale_free_axes else "")


def _run_chunk(a_refs, b_refs, poses, type, threads, tolerance_a, tolerance_b, cache_bytes):
    if cache_bytes is not None:
        _set_bound(cache_bytes)
    # A side is a list of parts. A mesh comes with its content key, a file
    # as (path, keep_parts, scale_free_axes) alone (mesh None), standing for
    # one part or, kept as parts, for several. The locals hold every mesh
    # for the chunk, whatever the cache drops.
    a, b = ([part for ref, mesh in refs for part in _parts_of(ref, mesh)] for refs in (a_refs, b_refs))
    r = _tvx.batch(a, b, poses, type=type, threads=threads, tolerance_a=tolerance_a, tolerance_b=tolerance_b)
    return {f: getattr(r, f) for f in _tvx.BatchResult.FIELDS}


def _parts_of(ref, mesh):
    if mesh is not None:
        return [_held(ref, mesh)]
    path, keep_parts, scale_free_axes = ref
    value = _file(path, keep_parts, scale_free_axes)
    return list(value) if keep_parts else [value]


def _side_refs(side, what, keep_parts, scale_free_axes):
    """[content key, mesh] for each mesh of a side, or [(path, keep_parts, scale_free_axes), None] for a file."""
    if isinstance(side, (str, bytes, os.PathLike)):
        path = os.fsdecode(side)
        if not os.path.exists(path):
            raise FileNotFoundError("%s: no such file" % path)
        return [[(os.path.abspath(path), keep_parts, scale_free_axes), None]]
    return [[_content_key(m), m] for m in _tvx._parts(side, what)]


def batch(client, a, b, poses_b, type="exact", chunk_size=5000, threads_per_task=1,
          tolerance_a=0.0, tolerance_b=0.0, cache_bytes=None, keep_parts=False, scale_free_axes=False):
    """tvx.batch(a, b, poses_b, ...) on the client's cluster.

    a and b are each a tvx.Mesh, a list of them (the parts of one body, as
    for tvx.batch) or the path of a mesh file that every worker can read (as
    tvx.Mesh.load(path, keep_parts, scale_free_axes)). keep_parts and
    scale_free_axes concern paths only; every mesh of the call, read or
    given, must have the same scale_free_axes. cache_bytes, if given, is the
    bound of each worker's mesh cache from this call on (see the module's
    notes).
    """
    if type not in _tvx.TYPES:
        raise ValueError("type must be one of 'first', 'all', 'exact', 'estimated', not %r" % (type,))
    if int(chunk_size) < 1:
        raise ValueError("chunk_size must be at least 1")
    if cache_bytes is not None:
        cache_bytes = _cache_bytes_of(cache_bytes, "cache_bytes")
    # Every pose is checked (and 6-number poses turned into matrices) here,
    # so that a bad pose fails at once, not in a worker.
    poses = _tvx.pose_matrices(poses_b)
    keep_parts, scale_free_axes = bool(keep_parts), bool(scale_free_axes)
    a_refs = _side_refs(a, "a", keep_parts, scale_free_axes)
    b_refs = _side_refs(b, "b", keep_parts, scale_free_axes)
    # Checked here rather than in every task: a worker's batch refuses
    # meshes of both settings.
    settings = {scale_free_axes if mesh is None else mesh.scale_free_axes for _, mesh in a_refs + b_refs}
    if len(settings) > 1:
        raise ValueError("the meshes of a batch must all have the same scale_free_axes")
    # Each in-memory mesh goes to every worker once (once for all the sides
    # and parts it stands in), and the tasks name it by its future. Its dask
    # key is new each call: a key scattered again while the cluster still
    # forgets the last call's copy would be lost with it.
    sent = {}
    for ref in a_refs + b_refs:
        if ref[1] is not None:
            if ref[0] not in sent:
                sent[ref[0]] = client.scatter(ref[1], broadcast=True, hash=False)
            ref[1] = sent[ref[0]]
    n = len(poses)
    step = int(chunk_size)
    # The chunks go straight to the workers, not through the scheduler with
    # the tasks; each task then runs where its chunk is. Their keys are new
    # each call too: keys hashed from the poses would be the last call's
    # when the same poses come again, and be lost with its release.
    chunks = client.scatter([poses[i:i + step] for i in range(0, n, step)], hash=False)
    futures = [
        client.submit(_run_chunk, a_refs, b_refs, chunk, type, threads_per_task, tolerance_a, tolerance_b,
                      cache_bytes, pure=False)
        for chunk in chunks
    ]
    parts = client.gather(futures)
    return _tvx.BatchResult.concatenate(_tvx.BatchResult(**p) for p in parts)
