"""Collision detection and exact minimum distance between rigid triangle meshes.

    import tvx, numpy as np
    a = tvx.Mesh.load("env.obj")
    b = tvx.Mesh.load("rob.obj")
    r = tvx.query(a, b, pose_b=[0.1, 0, 0, 0, 0, 0.3])        # one pose, type="exact"
    poses = np.zeros((100000, 6)); poses[:, 0] = np.linspace(-1, 1, 100000)
    res = tvx.batch(a, b, poses, type="first")                 # every core
    res.contact, res.clearance, res.pair_count                 # numpy arrays, in pose order

Poses are (4, 4) rigid matrices or 6 numbers "tx ty tz rx ry rz" (radians; the
rotation is Rz*Ry*Rx, about x first, then the translation), as the tvx tool
reads them. Query types: "first" (first contact), "all" (all contacts),
"exact" (exact clearance and closest points), "estimated" (a lower bound of
the clearance). The clearance is the distance minus both tolerances.

tvx.dask.batch spreads a batch over the workers of a dask.distributed client.
A Mesh pickles (its points, triangles, source and name; the tree is rebuilt
where it lands), so meshes built in memory travel to worker processes too.
tvx.Mesh.load(path, keep_parts=True) gives the meshes of a file as the
parts of one body, which query and batch take in a list (query's parts
then say which parts touch), as the tool's --keep-parts does.
Meshes about 1 unit across or smaller build tighter trees with
tvx.Mesh(..., scale_free_axes=True), as the tool's --scale-free-axes does.
The scene graph (Polyhedron, Assembly, CollisionList, Analysis and its
results) is there for hosts that build scenes of their own.
"""

import numpy as _np

from ._tvx import (  # noqa: F401
    Activation,
    Analysis,
    Assembly,
    Collision,
    CollisionList,
    Distance,
    Geometry,
    Mesh,
    Object,
    Polyhedron,
    VirtualPolyhedron,
    default_threads,
    pose_matrices,
    pose_matrix,
)
from . import _tvx

TYPES = ("first", "all", "exact", "estimated")

__all__ = [
    "Activation", "Analysis", "Assembly", "BatchResult", "Collision", "CollisionList", "Distance",
    "Geometry", "Mesh", "Object", "Polyhedron", "QueryResult", "VirtualPolyhedron", "batch",
    "pose_matrices", "pose_matrix", "query", "TYPES",
]


class QueryResult:
    """The answer of tvx.query.

    contact   bool
    clearance float: the clearance for the distance types; NaN in contact
              and for the contact types
    exact     bool: the clearance is exact and closest is set
    closest   (2, 3) array, the closest point on A and on B in the world, or None
    pairs     (k, 2) int32 array of triangle ranks (A, B) in contact: all of
              them for "all", one for the other types; each rank is in its
              own part
    parts     (k, 2) int32 array: the ranks of the parts (A, B) whose
              triangles pairs names, 0 for a side given as one mesh
    """

    __slots__ = ("contact", "clearance", "exact", "closest", "pairs", "parts")

    def __init__(self, contact, clearance, exact, closest, pairs, parts=None):
        self.contact = contact
        self.clearance = clearance
        self.exact = exact
        self.closest = closest
        self.pairs = pairs
        self.parts = _np.zeros(pairs.shape, _np.int32) if parts is None else parts

    def __repr__(self):
        if self.contact:
            return "<tvx.QueryResult contact, %d triangle pairs>" % len(self.pairs)
        return "<tvx.QueryResult clearance %r%s>" % (self.clearance, " (exact)" if self.exact else "")


def _parts(side, what):
    """The meshes of one side: a Mesh, or a sequence of Meshes (the parts of one body)."""
    if isinstance(side, Mesh):
        return [side]
    if isinstance(side, (str, bytes)) or not hasattr(side, "__iter__"):
        raise TypeError("%s must be a tvx.Mesh or a sequence of them (its parts)" % what)
    parts = list(side)
    if not all(isinstance(m, Mesh) for m in parts):
        raise TypeError("%s must be a tvx.Mesh or a sequence of them (its parts)" % what)
    if not parts:
        raise ValueError("%s has no parts" % what)
    return parts


def query(a, b, pose_b=None, pose_a=None, type="exact", tolerance_a=0.0, tolerance_b=0.0):
    """One query between meshes a and b placed by pose_a and pose_b (None: identity).

    Each side is a Mesh or a sequence of Meshes, the parts of one body (as
    Mesh.load(path, keep_parts=True) gives them), all placed by the side's
    pose and given its tolerance; the result's parts say which parts the
    triangles in contact belong to.
    """
    analysis = Analysis(type=type)
    sides = []
    for meshes, pose, tolerance, what in ((a, pose_a, tolerance_a, "a"), (b, pose_b, tolerance_b, "b")):
        polyhedra = [Polyhedron(m) for m in _parts(meshes, what)]
        for p in polyhedra:
            p.tolerance = tolerance
            p.absolute_position = pose
        sides.append(polyhedra)
    analysis.list1 = CollisionList(sides[0])
    analysis.list2 = CollisionList(sides[1])
    analysis.compute()
    if not analysis.complete:
        raise RuntimeError("the query was incomplete: geometry without an OBB tree was not examined")
    collisions = analysis.collisions
    if collisions:
        pairs = _np.concatenate([c.pairs for c in collisions])
        # Each collision is one pair of parts: the objects of the two lists.
        rank_a = {id(p): i for i, p in enumerate(sides[0])}
        rank_b = {id(p): i for i, p in enumerate(sides[1])}
        parts = _np.concatenate([_np.tile(_np.array([rank_a[id(c.object1)], rank_b[id(c.object2)]], _np.int32),
                                          (len(c), 1)) for c in collisions])
        return QueryResult(True, float("nan"), False, None, pairs, parts)
    pairs = _np.zeros((0, 2), dtype=_np.int32)
    distances = analysis.distances
    if not distances:
        return QueryResult(False, float("nan"), False, None, pairs)
    d = distances[0]
    return QueryResult(False, d.clearance, d.exact, d.closest, pairs)


class BatchResult:
    """The answers of tvx.batch (and tvx.dask.batch), numpy arrays in pose order.

    contact    (N,) bool
    clearance  (N,) float64: NaN in contact and for the contact types
    exact      (N,) bool: clearance exact, closest points set
    closest_a  (N, 3) float64, closest_b (N, 3): NaN unless exact
    pair_count (N,) uint32: triangle pairs in contact (1 at most but for "all")
    status     (N,) int32: 1 answered, 2 a distance query found no distance, 3 incomplete
               (a part without an OBB tree was not examined: no contact is not an answer)
    """

    FIELDS = ("contact", "clearance", "exact", "closest_a", "closest_b", "pair_count", "status")
    __slots__ = FIELDS

    def __init__(self, **arrays):
        for f in self.FIELDS:
            setattr(self, f, arrays[f])

    def __len__(self):
        return len(self.contact)

    def __repr__(self):
        return "<tvx.BatchResult %d poses, %d in contact>" % (len(self), int(self.contact.sum()))

    @classmethod
    def concatenate(cls, parts):
        """One result of several, in the order given."""
        parts = list(parts)
        if not parts:
            return _empty_result()
        return cls(**{f: _np.concatenate([getattr(p, f) for p in parts]) for f in cls.FIELDS})


def _empty_result():
    return BatchResult(contact=_np.zeros(0, bool), clearance=_np.zeros(0), exact=_np.zeros(0, bool),
                       closest_a=_np.zeros((0, 3)), closest_b=_np.zeros((0, 3)),
                       pair_count=_np.zeros(0, _np.uint32), status=_np.zeros(0, _np.int32))


def batch(a, b, poses_b, type="exact", threads=None, tolerance_a=0.0, tolerance_b=0.0, progress=None):
    """One query type between meshes a and b at every pose of b.

    Each side is a Mesh or a sequence of Meshes, the parts of one body, as
    for tvx.query; pair_count then sums the pairs of every two parts.

    poses_b is an (N, 4, 4) array of rigid placements or an (N, 6) array of
    tx ty tz rx ry rz. threads=None uses every core. The answers are the same,
    bit for bit, for every thread count, and each equals tvx.query at that pose.
    progress, if given, is called as progress(done, total) from this thread.
    The GIL is released while the queries run; Ctrl-C cancels the batch.
    """
    return BatchResult(**_tvx._batch(_parts(a, "a"), _parts(b, "b"), poses_b, type, threads, tolerance_a,
                                     tolerance_b, progress))
