"""The Python module against the command line's log, pushed arrays of any
layout against whole files, and bad input."""

import json
import math
import os
import shutil
import subprocess
import threading

import numpy as np
import pytest

import nrvq
from conftest import expect_log_values, luma_planes, run_tool

# The demonstration clip in part (every segment's first frames) and an odd
# size; start and count as the command line takes them.
CASES = [
    pytest.param(("demo",), 512, 288, 20, 200, id="demo"),
    pytest.param((101, 59, 30), 101, 59, 4, 20, id="odd"),
    pytest.param((7, 5, 6), 7, 5, 0, None, id="tiny"),
]


@pytest.mark.parametrize("spec,width,height,start,count", CASES)
def test_analyze_equals_the_command_line_log(clips, workdir, spec, width, height, start, count):
    clip = clips(*spec)
    args = [25] + ([count, start] if count is not None else [])
    rows = run_tool(clip, width, height, *args, "--threads", 2, "--json", "run.json", workdir=workdir)
    document = json.loads((workdir / "run.json").read_text())
    for threads in (1, None):
        result = nrvq.analyze(clip, width=width, height=height, start=start, frames=count, threads=threads)
        assert (result.width, result.height, result.fps, result.start) == (width, height, 25.0, start)
        assert list(result) == ["frame", "time", *nrvq.KEYS, *nrvq.OPINION_KEYS]
        assert result["frame"].dtype == np.int64 and result["blur"].dtype == np.float64
        expect_log_values(rows, result)
        expect_json(document, result)
        # The flag spans are the runs of the flags.
        assert result.spans["blackout"] == [(e["first"], e["last"]) for e in document["events"]
                                            if e["indicator"] == "blackout"]
    table = result.to_pandas()
    assert list(table.columns) == ["time", *nrvq.KEYS, *nrvq.OPINION_KEYS] and table.index.name == "frame"
    assert table.index[0] == start and len(table) == len(rows)


def same(a, b):
    """Equal, where the JSON output's null is NaN."""
    return a == b or (b is None and math.isnan(a))


def expect_json(document, result):
    """The result holds the JSON output's statistics, frame times, opinion
    scores and events, and its verdict."""
    for key, stats in document["summary"].items():
        for stat, value in stats.items():
            assert same(result.summary[key][stat], value), f"{key} {stat}"
    for i, frame in enumerate(document["frames"]):
        for key in ("time", *nrvq.OPINION_KEYS):
            assert same(result[key][i], frame.get(key)), f"frame {i} {key}"
    assert np.array_equal(result.seconds, result["time"])
    assert len(result.events) == len(document["events"])
    for got, want in zip(result.events, document["events"]):
        assert got.keys() == want.keys() and all(same(got[k], want[k]) for k in want), (got, want)
    assert result.fatal == any(e["severity"] == "fatal" for e in document["events"])


def test_selection_and_rules_as_on_the_command_line(clips, workdir, tmp_path):
    clip = clips("demo")
    rules = tmp_path / "qc.toml"
    rules.write_text('rules = ["noise > 4 for 3f : info"]\n')
    args = [clip, 512, 288, "--frames", 120, "--no-log", "--quiet", "--json", "run.json", "--only", "blur,noise",
            "--rule", "blur > 8 for 0.2s", "--rules", rules, "--fail-on", "blur"]
    status = subprocess.run([os.environ["NRVQ_BINARY"], *map(str, args)], cwd=workdir).returncode
    assert status == 3
    result = nrvq.analyze(clip, 512, 288, frames=120, only=["blur", "noise"], rules=["blur > 8 for 0.2s"],
                          rules_file=rules, fail_on=["blur"])
    expect_json(json.loads((workdir / "run.json").read_text()), result)
    assert result.fatal and {e["indicator"] for e in result.events} == {"blur", "noise"}
    assert np.isnan(result["blockiness"]).all() and np.isnan(result["blockiness_mos"]).all()
    assert not nrvq.analyze(clip, 512, 288, frames=120, skip="blur,noise", fail_on="blur,noise").fatal


def layouts(plane):
    """The same samples in differently laid-out arrays."""
    h, w = plane.shape
    padded = np.full((h + 3, w + 17), 7, np.uint8)
    padded[2:2 + h, 5:5 + w] = plane
    spaced = np.zeros((2 * h, 3 * w), np.uint8)
    spaced[::2, ::3] = plane
    bottom_up = np.ascontiguousarray(plane[::-1])
    mirrored = np.ascontiguousarray(plane[::-1, ::-1])
    return {
        "contiguous": np.ascontiguousarray(plane),
        "padded view": padded[2:2 + h, 5:5 + w],
        "column stride 3": spaced[::2, ::3],
        "negative row stride": bottom_up[::-1],
        "both strides negative": mirrored[::-1, ::-1],
        "fortran order": np.asfortranarray(plane),
    }


@pytest.mark.parametrize("spec,width,height,start,count", CASES[:2])
def test_push_of_any_layout_equals_the_file(clips, spec, width, height, start, count):
    clip = clips(*spec)
    frames = 40 if spec == ("demo",) else count
    expected = nrvq.analyze(clip, width=width, height=height, start=start, frames=frames, threads=2)
    planes = luma_planes(clip, width, height)[start:start + frames]
    names = list(layouts(planes[0]))
    analyzers = {name: nrvq.Analyzer(width, height, fps=25) for name in names}
    for i, plane in enumerate(planes):
        for name, array in layouts(plane).items():
            assert array.shape == (height, width)
            values = analyzers[name].push(array)
            assert values["frame"] == i
            for key in nrvq.KEYS:
                a, b = values[key], expected[key][i]
                assert a == b or (math.isnan(a) and math.isnan(b)), f"{name}, frame {i}, {key}"
    assert analyzers["contiguous"].frames == frames


def test_analyzers_in_threads_give_the_same_values(clips):
    clip = clips(64, 48, 12)
    planes = luma_planes(clip, 64, 48)
    expected = nrvq.analyze(clip, width=64, height=48, threads=1)
    outcomes = [None] * 4

    def work(slot):
        analyzer = nrvq.Analyzer(64, 48)
        outcomes[slot] = [analyzer.push(p) for p in planes]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for outcome in outcomes:
        got = np.array([[v[k] for k in nrvq.KEYS] for v in outcome])
        want = np.array([expected[k] for k in nrvq.KEYS]).T
        np.testing.assert_array_equal(got, want)


def test_bad_input_raises_clear_errors(clips, tmp_path):
    analyzer = nrvq.Analyzer(16, 8)
    good = np.zeros((8, 16), np.uint8)
    for bad, error, words in [
        (good.astype(np.int16), TypeError, "dtype uint8"),
        (good.astype(np.float32), TypeError, "dtype uint8"),
        (good.tolist(), TypeError, "NumPy array"),
        (None, TypeError, "NumPy array"),
        (good[0], ValueError, "2-D"),
        (good[None], ValueError, "2-D"),
        (np.zeros((16, 8), np.uint8), ValueError, "(8, 16)"),
        (np.zeros((8, 0), np.uint8), ValueError, "(8, 16)"),
    ]:
        with pytest.raises(error, match=words.replace("(", r"\(").replace(")", r"\)")):
            analyzer.push(bad)
    assert analyzer.frames == 0
    readonly = good.copy()
    readonly.flags.writeable = False
    assert analyzer.push(readonly)["frame"] == 0

    for args, words in [((0, 8), "frame size"), ((16, -1), "frame size"), ((46341, 46341), "frame size"),
                        ((16, 8, 0), "frame rate")]:
        with pytest.raises(ValueError, match=words):
            nrvq.Analyzer(*args)
    with pytest.raises(nrvq.InputError, match="missing.yuv"):
        nrvq.analyze(tmp_path / "missing.yuv", width=16, height=8)
    assert issubclass(nrvq.InputError, OSError)
    clip = clips(16, 8, 2)
    short = nrvq.analyze(clip, width=16, height=8, frames=5)
    assert short.frames == 2 and "not in the file" in short.notes
    for options, words in [(dict(width=0), "frame size"), (dict(fps="30000/0"), "frame rate"),
                           (dict(fps="1/2/3"), "frame rate"),
                           (dict(fps="fast"), "frame rate"), (dict(fps=0), "frame rate"),
                           (dict(pix_fmt="rgb24"), "pixel format"), (dict(simd="neon"), "instruction set"),
                           (dict(only=["nope"]), "unknown indicator"), (dict(only=[]), "empty"),
                           (dict(skip=nrvq.KEYS), "no indicator"), (dict(rules=["blur >> 1"]), "comparison"),
                           (dict(rules=["noise > 1"], only=["blur"]), "not computed"),
                           (dict(fail_on="fatal"), "fail-on"), (dict(rules="blur > 1"), "list of rule"),
                           (dict(only=[3]), "list of indicator keys")]:
        with pytest.raises((ValueError, TypeError), match=words):
            nrvq.analyze(clip, **{"width": 16, "height": 8, **options})


def ten_bit(clip, tmp_path):
    """The clip as yuv420p10le: every sample times 4, so the command line and
    the module narrow it back to the same 8 bits."""
    path = tmp_path / "ten.yuv"
    (np.fromfile(clip, np.uint8).astype("<u2") * 4).tofile(path)
    return path


def two_streams(clip, tmp_path):
    """A Matroska file whose second video stream is the clip, the first a
    plain grey picture."""
    ffmpeg = shutil.which("ffmpeg")
    if ffmpeg is None:
        pytest.skip("ffmpeg is not installed")
    path = tmp_path / "two.mkv"
    raw = ["-f", "rawvideo", "-pix_fmt", "yuv420p", "-s", "64x48", "-r", "25"]
    subprocess.run([ffmpeg, "-v", "error", "-f", "lavfi", "-i", "color=gray:s=64x48:r=25:d=0.4", *raw, "-i",
                    str(clip), "-map", "0", "-map", "1", "-c:v", "ffv1", str(path)], check=True)
    return path


# Each option as the command line takes it and as analyze takes it, on a
# 64 x 48 clip of 10 frames.
OPTION_CASES = [
    pytest.param(lambda clip, _: clip, ["64", "48", "--fps", "30000/1001", "--simd", "scalar", "--start", "2",
                                        "--frames", "6"],
                 dict(width=64, height=48, fps="30000/1001", simd="scalar", start=2, frames=6), id="rate-simd"),
    pytest.param(lambda clip, _: clip, ["64", "48", "12.5", "--reference", "--threads", "1"],
                 dict(width=64, height=48, fps=12.5, reference=True, threads=1), id="reference"),
    pytest.param(ten_bit, ["64", "48", "--pix-fmt", "yuv420p10le"],
                 dict(width=64, height=48, pix_fmt="yuv420p10le"), id="pix-fmt"),
    pytest.param(two_streams, ["--stream", "1"], dict(stream=1), id="stream"),
]


@pytest.mark.parametrize("make,args,options", OPTION_CASES)
def test_options_as_on_the_command_line(clips, workdir, tmp_path, make, args, options):
    path = make(clips(64, 48, 10), tmp_path)
    rows = run_tool(path, *args, workdir=workdir)
    result = nrvq.analyze(path, **options)
    expect_log_values(rows, result)
    assert (result.width, result.height) == (64, 48)
    if "fps" in options:
        assert result.fps == nrvq.parse_frame_rate(str(options["fps"]))
    assert set(result.times) == set(nrvq.KEYS) and result.process_seconds >= 0

