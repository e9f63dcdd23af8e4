"""Many videos on a local Dask cluster of two worker processes: one task per
video, per-frame tables equal to the command line's log, summaries of them."""

import math

import pandas
import pytest

import nrvq
from conftest import expect_log_values, run_tool

distributed = pytest.importorskip("distributed")
nrvq_dask = pytest.importorskip("nrvq.dask")


def test_analyze_many_on_a_local_cluster(clips, workdir):
    # Two clips of one size (the options are shared), different content.
    paths = [str(clips(96, 64, 14)), str(clips("demo"))]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        summary, tables = nrvq_dask.analyze_many(paths, client=client, frames=True, width=96, height=64,
                                                 start=2, frame_count=10)
        again = nrvq_dask.analyze_many(paths[:1], client=client, width=96, height=64, start=2, frame_count=10)
    assert list(summary.index) == paths and set(tables) == set(paths)
    for n, path in enumerate(paths):
        rows = run_tool(path, 96, 64, 25, 10, 2, workdir=workdir / str(n))
        table = tables[path]
        assert list(table.index) == list(range(2, 12))
        expect_log_values(rows, {"frame": table.index.to_numpy(), **{k: table[k].to_numpy() for k in nrvq.KEYS}})
        row = summary.loc[path]
        assert (row["frames"], row["width"], row["height"], row["fps"]) == (10, 96, 64, 25.0)
        for key in nrvq.KEYS:
            measured = table[key].dropna().to_numpy()
            assert (row[key + "_count"], row[key + "_left_out"]) == (measured.size, 10 - measured.size)
            if measured.size:
                assert row[key + "_mean"] == pytest.approx(measured.mean(), rel=1e-12, nan_ok=True)
                assert (row[key + "_min"], row[key + "_max"]) == (measured.min(), measured.max())
            else:
                assert math.isnan(row[key + "_mean"])
    pandas.testing.assert_series_equal(again.loc[paths[0]], summary.loc[paths[0]])
