"""Meshes, single queries and the scene graph: the tool (the C++ library's
own answers) as the reference, refused input, and ownership."""

import gc
import json
import os
import pickle
import subprocess
import threading

import numpy as np
import pytest

import tvx
from conftest import random_poses, ring_and_ball, shared_mesh, small_pair, tool_query, torus, uv_sphere, write_obj

ASSIMP = "/usr/share/assimp/models"


def pairs_of(answer, keep_parts=False):
    if keep_parts:
        return sorted((p["part_a"], p["a"], p["part_b"], p["b"]) for p in answer["pairs"])
    return sorted((p["a"], p["b"]) for p in answer["pairs"])


def check_against_tool(tool, a_path, b_path, poses, tolerance_b=0.0, keep_parts=False):
    """tvx.query against tvx query; with keep_parts, bodies of parts named by the file."""
    a, b = tvx.Mesh.load(a_path, keep_parts=keep_parts), tvx.Mesh.load(b_path, keep_parts=keep_parts)
    seen = set()
    for pose in poses:
        for kind in tvx.TYPES:
            ours = tvx.query(a, b, pose_b=pose, type=kind, tolerance_b=tolerance_b)
            want = tool_query(tool, a_path, b_path, pose, kind, tolerance_b, keep_parts)
            where = "%s at %s" % (kind, pose)
            assert ours.contact == want["contact"], where
            assert len(ours.pairs) == want["pair_count"], where
            if kind == "all" and keep_parts:
                named = [(a[i].name, t, b[j].name, u) for (i, j), (t, u) in zip(ours.parts.tolist(), ours.pairs.tolist())]
                assert sorted(named) == pairs_of(want, True), where
                seen.add(("parts", frozenset(map(tuple, ours.parts.tolist()))))
            elif kind == "all":
                assert sorted(map(tuple, ours.pairs.tolist())) == pairs_of(want), where
            seen.add((kind, ours.contact))
            if kind == "estimated" and keep_parts:
                # A lower bound from the boxes walked: one tree a part here,
                # the tool's one tree over the regrouped parts there.
                continue
            if kind in ("exact", "estimated") and not ours.contact:
                # The tool prints the shortest text that reads the float back bit for bit.
                assert np.float32(ours.clearance) == np.float32(want["clearance"]), where
                assert ours.exact == want["exact"], where
            if ours.exact:
                assert ours.closest.tolist() == [want["closest"]["a"], want["closest"]["b"]], where
    return seen


def test_queries_answer_as_the_tool_does(tool, tmp_path):
    rng = np.random.default_rng(5)
    a = write_obj(tmp_path / "torus.obj", *torus())
    b = write_obj(tmp_path / "sphere.obj", *uv_sphere())
    seen = check_against_tool(tool, a, b, random_poses(rng, 8, 1.5), tolerance_b=0.01)
    assert {("first", True), ("first", False), ("exact", True), ("exact", False)} <= seen
    # What a mesh holds: 12 bytes a point and a triangle, and once built the
    # tree's bytes as the tool counts them.
    tree = json.loads(subprocess.run([tool, "info", a, "--json"], check=True, capture_output=True,
                                     text=True).stdout)["tree"]
    m = tvx.Mesh.load(a)
    assert m.nbytes == 12 * (m.n_points + m.n_triangles)
    m.build_tree()
    assert m.nbytes == 12 * (m.n_points + m.n_triangles) + tree["bytes"] and tree["bytes"] > 0


def test_bodies_of_parts_answer_as_the_tool_keeping_parts(tool, tmp_path):
    rng = np.random.default_rng(6)
    a = write_obj(tmp_path / "a.obj", None, None, ring_and_ball())
    b = write_obj(tmp_path / "b.obj", None, None, {"cap": uv_sphere(radius=0.3), "tube": torus(R=0.5, r=0.1)})
    assert [m.name for m in tvx.Mesh.load(a, keep_parts=True)] == ["ring", "ball"]
    seen = check_against_tool(tool, a, b, random_poses(rng, 10, 1.5), tolerance_b=0.01, keep_parts=True)
    assert {("exact", True), ("exact", False)} <= seen
    # Contacts of more than one pair of parts, and of parts other than the first.
    touched = set().union(*(s[1] for s in seen if s[0] == "parts"))
    assert len(touched) >= 3 and (1, 1) in touched, touched


def ordered_contacts(a, b, poses):
    return [tvx.query(a, b, pose_b=p, type=kind).pairs.tolist() for p in poses for kind in ("first", "all")]


def test_scale_free_axes_answer_as_the_tool_with_the_option(tool, tmp_path):
    """The first contact and the order of all contacts, which the trees decide, are the tool's
    under the same setting; a pickled mesh keeps its setting; threads building under both
    settings at once each get their own setting's tree."""
    a_path, b_path, poses = small_pair(tmp_path)
    answers = {}
    for on in (False, True):
        a, b = tvx.Mesh.load(a_path, scale_free_axes=on), tvx.Mesh.load(b_path, scale_free_axes=on)
        assert a.scale_free_axes == b.scale_free_axes == on
        answers[on] = ordered_contacts(a, b, poses)
        want = [[[p["a"], p["b"]] for p in tool_query(tool, a_path, b_path, pose, kind, scale_free_axes=on)["pairs"]]
                for pose in poses for kind in ("first", "all")]
        assert answers[on] == want
        copies = [pickle.loads(pickle.dumps(m)) for m in (a, b)]
        assert [m.scale_free_axes for m in copies] == [on, on]
        assert ordered_contacts(*copies, poses) == answers[on]
    assert answers[False] != answers[True]
    with pytest.raises(ValueError, match="scale_free_axes"):
        tvx.batch(tvx.Mesh.load(a_path), tvx.Mesh.load(b_path, scale_free_axes=True), np.zeros((1, 6)))
    # A batch's progress callback runs inside the batch's setting: a query
    # of that setting answers there, one of the other raises, not hangs.
    small = [tvx.Mesh.load(p, scale_free_axes=True) for p in (a_path, b_path)]
    seen = []
    tvx.batch(*small, np.array(poses * 50), threads=1, progress=lambda *_: seen.append(ordered_contacts(*small, poses)))
    assert seen and all(s == answers[True] for s in seen)
    default = [tvx.Mesh.load(p) for p in (a_path, b_path)]
    with pytest.raises(RuntimeError, match="other setting"):
        tvx.batch(*small, np.array(poses * 50), threads=1, progress=lambda *_: tvx.query(*default))

    # Copies of the two meshes, half of them under each setting, built and
    # queried by threads started together, several rounds.
    arrays = [(m.points, m.triangles) for m in (a, b)]

    def build(k, pair, out):
        barrier.wait()
        for m in pair:
            m.build_tree()
        out[k] = ordered_contacts(*pair, poses)

    for _ in range(4):
        pairs = [[tvx.Mesh(*arr, scale_free_axes=bool(k % 2)) for arr in arrays] for k in range(8)]
        barrier = threading.Barrier(len(pairs))
        out = {}
        threads = [threading.Thread(target=build, args=(k, pair, out)) for k, pair in enumerate(pairs)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert out == {k: answers[bool(k % 2)] for k in range(len(pairs))}


def test_queries_on_shared_meshes_answer_as_the_tool_does(tool):
    env, rob = shared_mesh("env.obj"), shared_mesh("rob.obj")
    poses = [[0, 0, 400, 0, 0, 0.3], [1500, -800, 1200, 0.2, 0.1, 0], [-2000, 2000, 600, 0, 0.5, 1.0]]
    check_against_tool(tool, env, rob, poses)


def test_assimp_models_and_the_demo_poses(tool):
    a, b = ASSIMP + "/OFF/Wuson.off", ASSIMP + "/STL/sphereWithHole.stl"
    if not (os.path.exists(a) and os.path.exists(b)):
        pytest.skip("assimp test models not installed")
    seen = check_against_tool(tool, a, b, [[-1.5, -0.75, -1.5, 0, 0, 0], [1.2, -0.75, -1.5, 0, 0, 0.3]])
    assert ("exact", False) in seen and ("exact", True) in seen


def test_mesh_arrays_round_trip_and_refuse_bad_input():
    pts, tris = uv_sphere()
    m = tvx.Mesh(pts, tris)
    assert m.points.dtype == np.float32 and m.points.shape == pts.shape
    assert np.array_equal(m.points, pts.astype(np.float32))
    assert m.triangles.dtype == np.uint32 and np.array_equal(m.triangles, tris)
    with pytest.raises(ValueError, match=r"shape \(n, 3\)"):
        tvx.Mesh(pts[:, :2], tris)
    with pytest.raises(ValueError, match=r"shape \(m, 3\)"):
        tvx.Mesh(pts, tris.reshape(-1))
    with pytest.raises(TypeError, match="integers"):
        tvx.Mesh(pts, tris.astype(float))
    with pytest.raises(TypeError, match="real numbers"):
        tvx.Mesh(pts.astype(complex), tris)
    bad = pts.copy()
    bad[3, 1] = np.nan
    with pytest.raises(ValueError, match="point 3"):
        tvx.Mesh(bad, tris)
    bad[3, 1] = 1e39  # beyond float
    with pytest.raises(ValueError, match="point 3"):
        tvx.Mesh(bad, tris)
    out = tris.copy()
    out[7, 2] = len(pts)
    with pytest.raises(ValueError, match="triangle 7"):
        tvx.Mesh(pts, out)
    out[7, 2] = -1
    with pytest.raises(ValueError, match="triangle 7"):
        tvx.Mesh(pts, out)


def test_files_that_cannot_be_read_raise_with_the_readers_line(tmp_path):
    with pytest.raises(FileNotFoundError, match="nope.obj"):
        tvx.Mesh.load(str(tmp_path / "nope.obj"))
    damaged = tmp_path / "range.obj"
    damaged.write_text("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 6\n")
    with pytest.raises(ValueError, match=r"range.obj: .*index"):
        tvx.Mesh.load(str(damaged))
    junk = tmp_path / "junk.stl"
    junk.write_bytes(b"\x00\x01solid? " * 7)
    with pytest.raises(ValueError, match="junk.stl: "):
        tvx.Mesh.load(str(junk))
    good = write_obj(tmp_path / "t.obj", *torus(8, 4))
    assert tvx.Mesh.load(good).n_triangles == 64


def test_poses_are_checked():
    m = tvx.Mesh(*uv_sphere())
    scaled = np.diag([2.0, 1, 1, 1])
    with pytest.raises(ValueError, match="rigid"):
        tvx.query(m, m, pose_b=scaled)
    with pytest.raises(ValueError, match="not finite"):
        tvx.query(m, m, pose_b=[0, np.nan, 0, 0, 0, 0])
    with pytest.raises(ValueError, match=r"\(4, 4\)"):
        tvx.query(m, m, pose_b=[1, 2, 3])
    with pytest.raises(TypeError, match="real numbers"):
        tvx.query(m, m, pose_b=np.eye(4, dtype=bool))
    with pytest.raises(ValueError, match="type must be"):
        tvx.query(m, m, type="closest")
    with pytest.raises(ValueError, match="tolerance"):
        tvx.query(m, m, tolerance_a=-1.0)
    # The tool's convention: about x first, then y, then z, then the translation.
    r = tvx.pose_matrix([1, 2, 3, np.pi / 2, 0, np.pi / 2])
    assert np.allclose(r @ [0, 1, 0, 1], [1, 2, 4, 1]) and np.allclose(r @ [1, 0, 0, 1], [1, 3, 3, 1])


def test_scene_graph_ownership_cannot_dangle():
    pts, tris = torus(12, 6)
    mesh = tvx.Mesh(pts, tris)
    parts = [tvx.Polyhedron(mesh), tvx.Polyhedron(mesh)]
    parts[1].relative_position = [3, 0, 0, 0, 0, 0]
    assembly = tvx.Assembly()
    for p in parts:
        assembly.attach(p)
    assert parts[0].parent is assembly and len(assembly.children) == 2
    probe = tvx.Polyhedron(tvx.Mesh(*uv_sphere(radius=0.3)))
    probe.absolute_position = [3.0, 1.0, 0, 0, 0, 0]
    analysis = tvx.Analysis(tvx.CollisionList([assembly]), tvx.CollisionList([probe]), "all")
    del parts, assembly, mesh
    gc.collect()
    analysis.compute()  # the lists own the scene
    (c,) = analysis.collisions
    (poly_a, _), (poly_b, _) = c.pair(0)
    assert poly_b is probe and poly_a.parent is not None
    # The answer of the same geometry placed straight in the world.
    direct = tvx.query(tvx.Mesh(pts, tris), tvx.Mesh(*uv_sphere(radius=0.3)), pose_a=[3, 0, 0, 0, 0, 0],
                       pose_b=[3.0, 1.0, 0, 0, 0, 0], type="all")
    assert len(c) == len(direct.pairs) > 0
    analysis.type = "exact"
    probe.absolute_position = [3.0, 2.0, 0, 0, 0, 0]
    analysis.compute()
    d = analysis.distances[0]
    assert not analysis.collisions and d.exact and d.closest.shape == (2, 3)
    # Results refer to objects weakly: once the scene is dropped, None.
    analysis.list1 = tvx.CollisionList()
    analysis.list2 = tvx.CollisionList()
    del probe, c, poly_a, poly_b
    gc.collect()
    assert d.object1 is None and d.object2 is None
