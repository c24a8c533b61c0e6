"""`tvx batch` against `tvx query` at the same poses (rows in input order,
every pose form), the same bytes for every thread count, and bad pose files."""

import json
import re
import subprocess

import numpy as np
import pytest

import tvx
from conftest import random_poses, tool_query, torus, uv_sphere, write_obj


def run(tool, *args):
    return subprocess.run([tool, "batch", *args], capture_output=True, text=True)


def test_rows_answer_as_tvx_query_in_input_order(tool, tmp_path):
    a = write_obj(tmp_path / "torus.obj", *torus())
    b = write_obj(tmp_path / "sphere.obj", *uv_sphere())
    poses = random_poses(np.random.default_rng(3), 10, 1.5)
    mats = tvx.pose_matrices(poses)
    csv6 = tmp_path / "p6.csv"
    csv6.write_text("tx,ty,tz,rx,ry,rz\n" + "".join(",".join(repr(x) for x in p) + "\n" for p in poses))
    csv12 = tmp_path / "p12.csv"
    csv12.write_text("".join(" ".join(repr(x) for x in m[:3].ravel()) + "\n" for m in mats))
    jl = tmp_path / "p.jsonl"
    jl.write_text("".join(json.dumps({"matrix": m.ravel().tolist()}) + "\n" for m in mats))
    for kind in ("first", "exact"):
        out = run(tool, a, b, "--poses", str(csv6), "--type", kind, "--tolerance-b", "0.01", "--format", "jsonl")
        assert out.returncode == 0, out.stderr
        rows = [json.loads(line) for line in out.stdout.splitlines()]
        assert [r["index"] for r in rows] == list(range(len(poses)))
        for p, r in zip(poses, rows):
            want = tool_query(tool, a, b, p, kind, 0.01)
            for key in ("contact", "pair_count", "clearance", "exact", "closest"):
                if key == "closest" and want[key] is not None:
                    want[key] = {"a": want[key]["a"], "b": want[key]["b"]}
                assert r[key] == want[key], (kind, key, p)
        # The 12-number CSV and the JSON Lines matrices are the same poses to
        # the rounding of repr; every thread count writes the same bytes.
        for src in (csv12, jl):
            again = run(tool, a, b, "--poses", str(src), "--type", kind, "--tolerance-b", "0.01", "--format", "jsonl")
            assert [json.loads(x)["contact"] for x in again.stdout.splitlines()] == [r["contact"] for r in rows]
        csv = [run(tool, a, b, "--poses", str(csv6), "--type", kind, "--threads", t).stdout for t in ("1", "3")]
        assert csv[0] == csv[1] and len(csv[0].splitlines()) == len(poses) + 1


@pytest.mark.parametrize("text, message", [
    ("1,2,3,0,0\n", "p.csv:1: expected 6 numbers"),
    ("0,0,0,0,0,0\n0,0,x,0,0,0\n", "p.csv:2: 'x' is not a finite number"),
    ("# scaled\n2 0 0 0 0 1 0 0 0 0 1 0\n", "p.csv:2: not a rigid placement"),
    ("[0, 0, 0, 0, 0, 0]\n{\"pose\": [1, 2]}\n", "p.csv:2: expected 6 numbers"),
    ("[0, 0, 0, 0, 0, 0]\n{\"where\": [0, 0, 0, 0, 0, 0]}\n", "p.csv:2: expected \\[numbers\\]"),
])
def test_bad_pose_files_name_the_line(tool, tmp_path, text, message):
    a = write_obj(tmp_path / "s.obj", *uv_sphere())
    (tmp_path / "p.csv").write_text(text)
    out = run(tool, a, a, "--poses", str(tmp_path / "p.csv"))
    assert out.returncode == 2 and out.stdout == ""
    assert re.search(message, out.stderr), out.stderr
