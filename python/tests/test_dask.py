"""Many videos on a local Dask cluster of two worker processes: one task per
video, per-frame tables equal to the command line's log, summaries of them,
a row for every input even when it fails or its worker dies."""

import math
import os
import pathlib
import re
import signal

import pandas
import pytest

import nrvq
from conftest import expect_log_values, run_tool

distributed = pytest.importorskip("distributed")
nrvq_dask = pytest.importorskip("nrvq.dask")


def local_cluster():
    return distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)


def test_analyze_many_on_a_local_cluster(clips, workdir, tmp_path):
    # Two clips of one size (the options are shared), different content;
    # a missing file and a folder fail alone.
    paths = [str(clips(96, 64, 14)), str(clips("demo"))]
    failing = {str(tmp_path / "missing.yuv"): "InputError: .*missing.yuv", str(tmp_path): "InputError: .*folder|.*directory"}
    with local_cluster() as cluster, distributed.Client(cluster) as client:
        summary, tables = nrvq_dask.analyze_many(paths + list(failing), client=client, frames=True, width=96,
                                                 height=64, start=2, frame_count=10, fail_on="any")
        again = nrvq_dask.analyze_many(paths[:1], client=client, width=96, height=64, start=2, frame_count=10,
                                       fail_on="any")
    assert list(summary.index) == paths + list(failing) and list(tables) == list(summary.index)
    for path, pattern in failing.items():
        row = summary.loc[path]
        assert row["status"] == "error" and tables[path] is None and math.isnan(row["blur_mean"])
        assert row["fatal"] is None
        assert re.match(pattern, row["error"]), row["error"]
    for n, path in enumerate(paths):
        rows = run_tool(path, 96, 64, 25, 10, 2, workdir=workdir / str(n))
        table = tables[path]
        assert list(table.index) == list(range(2, 12))
        expect_log_values(rows, {"frame": table.index.to_numpy(), **{k: table[k].to_numpy() for k in nrvq.KEYS}})
        row = summary.loc[path]
        assert (row["status"], row["error"], row["frames"], row["width"], row["height"], row["fps"]) == (
            "ok", "", 10, 96, 64, 25.0)
        direct = nrvq.analyze(path, 96, 64, start=2, frames=10, fail_on="any")
        assert (row["events"], row["fatal"]) == (len(direct.events), direct.fatal)
        for key in nrvq.KEYS:
            measured = table[key].dropna().to_numpy()
            assert (row[key + "_count"], row[key + "_left_out"]) == (measured.size, 10 - measured.size)
            if measured.size:
                assert row[key + "_mean"] == pytest.approx(measured.mean(), rel=1e-12, nan_ok=True)
                assert (row[key + "_min"], row[key + "_max"]) == (measured.min(), measured.max())
            else:
                assert math.isnan(row[key + "_mean"])
    pandas.testing.assert_series_equal(again.loc[paths[0]], summary.loc[paths[0]])


def test_empty_list_and_a_single_path():
    empty = nrvq_dask.analyze_many([], width=16, height=8)
    assert empty.empty and list(empty.columns) == list(nrvq_dask.COLUMNS[1:])
    assert nrvq_dask.analyze_many([], frames=True)[1] == {}
    for single in ["clip.yuv", b"clip.yuv", pathlib.Path("clip.yuv")]:
        with pytest.raises(TypeError, match="single path"):
            nrvq_dask.analyze_many(single, width=16, height=8)


class KillFirstAnalysis(distributed.WorkerPlugin):
    """On every worker: the first analysis of path anywhere kills the worker
    process running it (its id goes to marker); later ones run."""

    def __init__(self, path, marker):
        self.path, self.marker = path, marker

    def setup(self, worker):
        analyze = nrvq.analyze

        def analyze_or_die(path, *args, **options):
            if path == self.path and not os.path.exists(self.marker):
                with open(self.marker, "w") as marker:
                    marker.write(str(os.getpid()))
                os.kill(os.getpid(), signal.SIGKILL)
            return analyze(path, *args, **options)

        nrvq.analyze = analyze_or_die


def test_a_worker_killed_in_the_middle_of_a_batch(clips, tmp_path):
    paths = [str(clips(64, 48, n)) for n in (10, 11, 12, 13)]
    marker = tmp_path / "killed"
    with local_cluster() as cluster, distributed.Client(cluster) as client:
        pids = list(client.run(os.getpid).values())
        client.register_worker_plugin(KillFirstAnalysis(paths[1], str(marker)))
        summary = nrvq_dask.analyze_many(paths, client=client, width=64, height=48)
    assert int(marker.read_text()) in pids
    assert list(summary.index) == paths and list(summary["status"]) == ["ok"] * 4, list(summary["error"])
    assert list(summary["frames"]) == [10, 11, 12, 13]
    assert summary.loc[paths[1], "blur_mean"] == nrvq.analyze(paths[1], width=64, height=48).summary["blur"]["mean"]
