"""tvx.batch against tvx.query at every pose (an independent path: a new
scene per query through the scene graph), across thread counts and pose
forms; refused input; progress; meshes that went through pickle."""

import copy
import io
import pickle
import re

import numpy as np
import pytest

import tvx
from conftest import random_poses, ring_and_ball, shared_mesh, torus, uv_sphere, write_obj


def same(x, y):
    """Every field equal, NaN where NaN."""
    for f in tvx.BatchResult.FIELDS:
        a, b = getattr(x, f), getattr(y, f)
        assert a.dtype == b.dtype and a.shape == b.shape, f
        assert np.array_equal(a, b, equal_nan=a.dtype.kind == "f"), f


def check_against_queries(a, b, poses, kind, tolerance_b):
    res = tvx.batch(a, b, poses, type=kind, threads=2, tolerance_b=tolerance_b)
    assert len(res) == len(poses)
    for i, pose in enumerate(poses):
        q = tvx.query(a, b, pose_b=pose, type=kind, tolerance_b=tolerance_b)
        where = "%s pose %d" % (kind, i)
        assert res.status[i] == 1, where
        assert res.contact[i] == q.contact and res.pair_count[i] == len(q.pairs), where
        assert res.exact[i] == q.exact, where
        np.testing.assert_array_equal(res.clearance[i], q.clearance, err_msg=where)
        if q.exact:
            np.testing.assert_array_equal(np.stack([res.closest_a[i], res.closest_b[i]]), q.closest,
                                          err_msg=where)
        else:
            assert np.isnan(res.closest_a[i]).all(), where
    return res


def bodies(form):
    """A and B as one mesh each, or as bodies of two parts each."""
    if form == "meshes":
        return tvx.Mesh(*torus()), tvx.Mesh(*uv_sphere())
    a = [tvx.Mesh(*part) for part in ring_and_ball().values()]
    return a, [tvx.Mesh(*uv_sphere(radius=0.3)), tvx.Mesh(*torus(R=0.5, r=0.1))]


@pytest.mark.parametrize("form", ["meshes", "parts"])
@pytest.mark.parametrize("kind", tvx.TYPES)
def test_every_pose_answers_as_a_single_query(kind, form):
    rng = np.random.default_rng(11)
    a, b = bodies(form)
    poses = random_poses(rng, 60, 1.6)
    res = check_against_queries(a, b, poses, kind, 0.01)
    assert 6 < res.contact.sum() < 54  # both outcomes well represented
    # Thread counts and pose forms change nothing, bit for bit.
    for threads in (1, 3, None):
        same(tvx.batch(a, b, poses, type=kind, threads=threads, tolerance_b=0.01), res)
    same(tvx.batch(a, b, tvx.pose_matrices(poses), type=kind, tolerance_b=0.01), res)
    # Pose i's answer does not depend on the poses before it.
    order = rng.permutation(len(poses))
    shuffled = tvx.batch(a, b, poses[order], type=kind, threads=2, tolerance_b=0.01)
    same(tvx.BatchResult(**{f: getattr(shuffled, f)[np.argsort(order)] for f in tvx.BatchResult.FIELDS}), res)


def test_shared_meshes_batch_as_single_queries():
    bunny = tvx.Mesh.load(shared_mesh("stanford-bunny.obj"))
    env, rob = tvx.Mesh.load(shared_mesh("env.obj")), tvx.Mesh.load(shared_mesh("rob.obj"))
    rng = np.random.default_rng(2)
    lo, hi = bunny.points.min(0), bunny.points.max(0)
    poses = np.column_stack([rng.uniform(lo - hi, hi - lo, (6, 3)), rng.uniform(-3, 3, (6, 3))])
    for kind in ("first", "exact"):
        check_against_queries(bunny, bunny, poses, kind, 0.0)
        check_against_queries(env, rob, random_poses(rng, 6, 2500.0), kind, 0.0)


def test_bad_batches_are_refused():
    m = tvx.Mesh(*uv_sphere())
    poses = np.tile(np.eye(4), (3, 1, 1))
    poses[2, 0, 1] = 0.2  # a shear
    with pytest.raises(ValueError, match="pose 2 is not a rigid"):
        tvx.batch(m, m, poses)
    poses[2] = np.diag([1.0, 1.0, -1.0, 1.0])  # a mirror
    with pytest.raises(ValueError, match="pose 2 is not a rigid"):
        tvx.batch(m, m, poses)
    with pytest.raises(ValueError, match="pose 1 has a number that is not finite"):
        tvx.batch(m, m, np.array([[0.0] * 6, [0, 0, np.inf, 0, 0, 0]]))
    for shape in [(3, 5), (3, 4, 3), (6,), (2, 2, 4, 4)]:
        with pytest.raises(ValueError, match=r"\(N, 4, 4\)"):
            tvx.batch(m, m, np.zeros(shape))
    with pytest.raises(TypeError, match="real numbers"):
        tvx.batch(m, m, np.array([["a"] * 6]))
    with pytest.raises(TypeError, match="real numbers"):
        tvx.batch(m, m, np.zeros((2, 6), dtype=complex))
    with pytest.raises(ValueError, match="threads"):
        tvx.batch(m, m, np.zeros((2, 6)), threads=0)
    with pytest.raises(ValueError, match="tolerance_b"):
        tvx.batch(m, m, np.zeros((2, 6)), tolerance_b=np.nan)
    with pytest.raises(ValueError, match="type must be"):
        tvx.batch(m, m, np.zeros((2, 6)), type="nearest")
    assert len(tvx.batch(m, m, np.zeros((0, 6)))) == 0
    # A side is a mesh or a sequence of them.
    for side, error, message in [([], ValueError, "b has no parts"), ([m, 3], TypeError, "b must be a tvx.Mesh"),
                                 ("m.obj", TypeError, "b must be a tvx.Mesh"), (None, TypeError, "b must be")]:
        with pytest.raises(error, match=message):
            tvx.batch(m, side, np.zeros((2, 6)))
        with pytest.raises(error, match=message):
            tvx.query(m, side)
    # Integer poses are numbers too.
    assert tvx.batch(m, m, np.zeros((2, 6), dtype=np.int64), type="first").contact.all()


def test_progress_is_reported_and_its_exception_stops_the_batch():
    rng = np.random.default_rng(4)
    a, b = tvx.Mesh(*torus()), tvx.Mesh(*uv_sphere())
    poses = random_poses(rng, 300, 1.6)
    calls = []
    tvx.batch(a, b, poses, progress=lambda done, total: calls.append((done, total)))
    assert calls and calls[-1] == (300, 300)
    assert all(x[0] <= y[0] for x, y in zip(calls, calls[1:]))

    def stop(done, total):
        raise KeyError("stop here")

    with pytest.raises(KeyError, match="stop here"):
        tvx.batch(a, b, poses, progress=stop)


def test_pickled_meshes_answer_as_the_original(tmp_path):
    rng = np.random.default_rng(5)
    points, triangles = torus()
    # Points that float32 rounds, so that a copy made from anything but the
    # stored floats would build another tree and answer otherwise.
    points = points + rng.uniform(-1e-3, 1e-3, points.shape)
    a = tvx.Mesh(points, triangles)
    b = tvx.Mesh.load(write_obj(tmp_path / "sphere.obj", *uv_sphere()))
    poses = random_poses(rng, 80, 1.6)
    want = {kind: tvx.batch(a, b, poses, type=kind, threads=2, tolerance_b=0.01) for kind in tvx.TYPES}
    copies = [(pickle.loads(pickle.dumps(a, protocol)), pickle.loads(pickle.dumps(b, protocol)))
              for protocol in (2, pickle.HIGHEST_PROTOCOL)]
    copies.append((copy.deepcopy(a), copy.deepcopy(b)))
    for a2, b2 in copies:
        for m, m2 in ((a, a2), (b, b2)):
            assert m2 is not m and m2.source == m.source
            assert m2.points.dtype == np.float32 and np.array_equal(m2.points, m.points)
            assert m2.triangles.dtype == np.uint32 and np.array_equal(m2.triangles, m.triangles)
        for kind in tvx.TYPES:
            same(tvx.batch(a2, b2, poses, type=kind, threads=2, tolerance_b=0.01), want[kind])
    assert b.source.endswith("sphere.obj")
    parts = tvx.Mesh.load(write_obj(tmp_path / "parts.obj", None, None, ring_and_ball()), keep_parts=True)
    assert [(m.name, m.source) for m in pickle.loads(pickle.dumps(parts))] == [(m.name, m.source) for m in parts]
    # The tree stays behind: little beyond the arrays, 12 bytes a point and
    # a triangle, travels (the tree alone would add 28 bytes a box).
    assert len(pickle.dumps(a, pickle.HIGHEST_PROTOCOL)) < 12 * (a.n_points + a.n_triangles) + 500


def test_a_damaged_pickle_is_refused_as_the_constructor_refuses_it():
    points, triangles = uv_sphere()
    mesh = tvx.Mesh(points, triangles)

    def damaged(state):
        """A pickle of mesh that carries state instead of its own."""
        class Pickler(pickle.Pickler):
            def reducer_override(self, obj):
                return mesh.__reduce_ex__(2)[:2] + (state,) if obj is mesh else NotImplemented

        out = io.BytesIO()
        Pickler(out, pickle.HIGHEST_PROTOCOL).dump(mesh)
        return out.getvalue()

    far = triangles.copy()
    far[3, 1] = len(points)
    negative = triangles.copy()
    negative[0, 2] = -1
    nan = points.copy()
    nan[7, 0] = np.nan
    for p, t in [(points, far), (points, negative), (nan, triangles), (points[:, :2], triangles),
                 (points, triangles.reshape(-1))]:
        with pytest.raises(ValueError) as constructor:
            tvx.Mesh(p, t)
        with pytest.raises(ValueError, match=re.escape(str(constructor.value))):
            pickle.loads(damaged((p, t, "")))
    for state in [(points, triangles), (points, triangles, "", 0), [points, triangles, ""], (points, triangles, 3),
                  (points, triangles, "", "", "")]:
        with pytest.raises(ValueError, match="tvx.Mesh state"):
            pickle.loads(damaged(state))
    # The sound state of the same shape is accepted: the refusals above are the damage's.
    sound = pickle.loads(damaged((points, triangles, "x")))
    assert sound.source == "x" and np.array_equal(sound.points, points.astype(np.float32))
