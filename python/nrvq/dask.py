"""Many videos on a Dask cluster: one task per video.

    from distributed import Client
    import nrvq.dask
    summary = nrvq.dask.analyze_many(paths, client=Client("scheduler:8786"), width=512, height=288)

A video is never split across tasks: temporal activity, freezing and
flickering carry state from each frame to the next, so a video's frames are
analysed in order by one task.
"""

import os

import nrvq

__all__ = ["analyze_many", "analyze_one"]


def analyze_one(path, frames=False, frame_count=None, **options):
    """Analyses one video (nrvq.analyze's options, its frame limit named
    frame_count; threads defaults to 1) and returns its summary row: path,
    frames analysed, width, height, fps, notes, and per indicator the pooled
    statistics of Result.summary as "<key>_<statistic>" (count, left_out,
    mean, min, max, p5, p50, p95, stddev). With frames=True, returns (row,
    per-frame DataFrame)."""
    options.setdefault("threads", 1)
    result = nrvq.analyze(path, frames=frame_count, **options)
    row = {
        "path": os.fspath(path),
        "frames": result.frames,
        "width": result.width,
        "height": result.height,
        "fps": result.fps,
        "notes": result.notes,
    }
    row.update(result.summary_row())
    if frames:
        return row, result.to_pandas()
    return row


def analyze_many(paths, client=None, frames=False, frame_count=None, **options):
    """Analyses every video in paths, one task per video, and returns a pandas
    DataFrame of per-video summaries indexed by path (see analyze_one), in the
    order of paths. With frames=True, returns (summary, {path: per-frame
    DataFrame}).

    client is a distributed.Client; without one, the tasks run on Dask's
    current scheduler (the default client if one is set up, else local
    threads). options are nrvq.analyze's: width, height, fps, start,
    frame_count (nrvq.analyze's frames: how many frames to examine), threads
    (1 per task unless given) and reference. A failed video raises its error
    here."""
    import dask
    import pandas

    paths = [os.fspath(p) for p in paths]
    tasks = [
        dask.delayed(analyze_one, pure=True)(p, frames=frames, frame_count=frame_count, **options) for p in paths
    ]
    if client is not None:
        outcomes = client.gather(client.compute(tasks))
    else:
        outcomes = list(dask.compute(*tasks))
    if frames:
        rows = [row for row, _ in outcomes]
        tables = {row["path"]: table for row, table in outcomes}
    else:
        rows = outcomes
    summary = pandas.DataFrame(rows).set_index("path")
    return (summary, tables) if frames else summary
