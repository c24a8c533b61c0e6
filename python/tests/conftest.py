"""Meshes made with numpy, written to OBJ when a test needs files, and the
paths of the tool and of the shared meshes that ctest passes in."""

import json
import os
import subprocess

import numpy as np
import pytest


def torus(n_major=24, n_minor=12, R=1.0, r=0.35):
    u, v = np.meshgrid(np.arange(n_major), np.arange(n_minor), indexing="ij")
    a = 2 * np.pi * u / n_major
    b = 2 * np.pi * v / n_minor
    pts = np.stack([(R + r * np.cos(b)) * np.cos(a), (R + r * np.cos(b)) * np.sin(a), r * np.sin(b)], -1)
    idx = lambda i, j: (i % n_major) * n_minor + (j % n_minor)  # noqa: E731
    tris = []
    for i in range(n_major):
        for j in range(n_minor):
            tris.append((idx(i, j), idx(i + 1, j), idx(i + 1, j + 1)))
            tris.append((idx(i, j), idx(i + 1, j + 1), idx(i, j + 1)))
    return pts.reshape(-1, 3), np.array(tris)


def uv_sphere(slices=16, stacks=9, radius=0.6):
    pts = [(0.0, 0.0, radius)]
    for s in range(1, stacks):
        th = np.pi * s / stacks
        for k in range(slices):
            ph = 2 * np.pi * k / slices
            pts.append((radius * np.sin(th) * np.cos(ph), radius * np.sin(th) * np.sin(ph), radius * np.cos(th)))
    pts.append((0.0, 0.0, -radius))
    ring = lambda s, k: 1 + (s - 1) * slices + k % slices  # noqa: E731
    tris = [(0, ring(1, k), ring(1, k + 1)) for k in range(slices)]
    for s in range(1, stacks - 1):
        for k in range(slices):
            tris.append((ring(s, k), ring(s + 1, k), ring(s + 1, k + 1)))
            tris.append((ring(s, k), ring(s + 1, k + 1), ring(s, k + 1)))
    last = len(pts) - 1
    tris += [(ring(stacks - 1, k + 1), ring(stacks - 1, k), last) for k in range(slices)]
    return np.array(pts), np.array(tris)


def write_obj(path, points, triangles, parts=None):
    """An OBJ file of one mesh, or of named parts {name: (points, triangles)}, each an object."""
    with open(path, "w") as f:
        first = 1
        for name, (pts, tris) in (parts or {None: (points, triangles)}).items():
            if name is not None:
                f.write("o %s\n" % name)
            for p in pts:
                f.write("v %.9g %.9g %.9g\n" % tuple(p))
            for t in tris:
                f.write("f %d %d %d\n" % tuple(int(i) + first for i in t))
            first += len(pts)
    return str(path)


def ring_and_ball():
    """Two parts of one body that touch: a torus and a sphere on its ring."""
    ball = uv_sphere(radius=0.45)
    return {"ring": torus(), "ball": (ball[0] + [1.0, 0.0, 0.3], ball[1])}


def small_pair(tmp_path):
    """A sphere and a torus a thousandth of a unit across, as files, and poses where they touch.

    The scale-free principal axes build other trees than the default here,
    so the first contact found and the order of all contacts differ.
    """
    sphere, tube = uv_sphere(32, 17), torus()
    a = write_obj(tmp_path / "small_sphere.obj", sphere[0] * 1e-3, sphere[1])
    b = write_obj(tmp_path / "small_torus.obj", tube[0] * 1e-3, tube[1])
    poses = [[1.1e-3, 0.2e-3, 0.01e-3, 0.2, 0.4, 0.3], [0.9e-3, -0.3e-3, 0.2e-3, 1.0, 0.1, -0.4],
             [1.2e-3, 0.0, -0.1e-3, -0.5, 0.3, 0.8]]
    return a, b, poses


def random_poses(rng, n, reach):
    """n poses tx ty tz rx ry rz around the origin, from deep contact to clear."""
    return np.column_stack([rng.uniform(-reach, reach, (n, 3)), rng.uniform(-np.pi, np.pi, (n, 3))])


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("TVX_TOOL")
    if not path or not os.path.exists(path):
        pytest.skip("the tvx tool is not built (TVX_TOOL)")
    return path


def tool_query(tool, a, b, pose_b, kind, tolerance_b=0.0, keep_parts=False, scale_free_axes=False):
    out = subprocess.run([tool, "query", a, b, "--pose-b", " ".join(repr(float(x)) for x in pose_b), "--type", kind,
                          "--tolerance-b", repr(tolerance_b), "--max-pairs", "1000000000", "--json"]
                         + ["--keep-parts"] * keep_parts + ["--scale-free-axes"] * scale_free_axes,
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)["queries"][0]


def shared_mesh(name):
    folder = os.environ.get("TVX_SHARED_MESHES", "")
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        pytest.skip("shared mesh %s not at hand" % name)
    return path
