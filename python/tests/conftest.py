"""Shared fixtures: the tool and the clip maker from the build, clips made
once per session, and the tool's log parsed into rows."""

import math
import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

import nrvq


def _binary(name):
    path = os.environ.get(name)
    if not path or not Path(path).exists():
        pytest.skip(f"{name} is not set to a built binary")
    return str(Path(path).resolve())


@pytest.fixture(scope="session")
def clips(tmp_path_factory):
    """Makes clips on request: clips("demo") or clips(width, height, frames)."""
    folder = tmp_path_factory.mktemp("clips")
    makeclip = _binary("MAKECLIP_BINARY")
    made = {}

    def make(*spec):
        if spec not in made:
            name = "_".join(str(s) for s in spec) + ".yuv"
            args = ["demo", str(folder / name)] if spec == ("demo",) else [str(folder / name), *map(str, spec)]
            subprocess.run([makeclip, *args], check=True, stdout=subprocess.DEVNULL)
            made[spec] = folder / name
        return made[spec]

    return make


def run_tool(*args, workdir):
    """Runs the command line with args in workdir and returns the log's rows,
    each a list of its fields."""
    workdir.mkdir(parents=True, exist_ok=True)
    subprocess.run([_binary("NRVQ_BINARY"), *map(str, args)], cwd=workdir, check=True, stdout=subprocess.DEVNULL)
    lines = (workdir / "metricsResultsCSV.csv").read_text().splitlines()
    assert lines[0].startswith("Frame:")
    return [line.split() for line in lines[1:] if line.strip()]


def expect_log_values(rows, frames):
    """Checks that values (a list of per-frame dicts, or a Result) printed with
    the log's own fields give the log's text. Values that were not measured
    (NaN) must be where the log shows 0 for the first frame's temporal
    columns or -1 for "nothing to report"."""
    table = nrvq.indicator_table()
    if isinstance(frames, dict):
        frames = [{k: frames[k][i] for k in ["frame", *nrvq.KEYS]} for i in range(len(frames["frame"]))]
    assert len(frames) == len(rows)
    for n, (row, values) in enumerate(zip(rows, frames)):
        assert int(row[0]) == values["frame"]
        for info, field in zip(table, row[1:]):
            value = values[info["key"]]
            where = f"frame {row[0]}, {info['key']}"
            if math.isnan(value):
                if field in ("nan", "-nan"):
                    continue
                first = n == 0 and not info["measured_on_first_frame"]
                assert float(field) == (0.0 if first else -1.0), where
                continue
            conversion = info["log_field"].strip()
            if info["type"] == "flag":
                text = conversion % (1 if value != 0 else 0)
            elif info["type"] == "truncated":
                text = conversion % math.trunc(value)
            else:
                text = conversion % value
            assert text.strip() == field, where


def luma_planes(clip, width, height):
    """The luma planes of a raw YUV 4:2:0 clip (each followed by two chroma
    planes of half the size, rounded up), as read-only (height, width) views
    of a memory map."""
    frame_bytes = width * height + 2 * ((width + 1) // 2) * ((height + 1) // 2)
    data = np.memmap(clip, dtype=np.uint8, mode="r")
    count = data.size // frame_bytes
    return [data[i * frame_bytes:i * frame_bytes + width * height].reshape(height, width) for i in range(count)]


@pytest.fixture
def workdir(tmp_path):
    yield tmp_path
    shutil.rmtree(tmp_path, ignore_errors=True)
