"""Many videos on a Dask cluster: one task per video.

    from distributed import Client
    import nrvq.dask
    summary = nrvq.dask.analyze_many(paths, client=Client("scheduler:8786"), width=512, height=288)
    summary[summary.status == "error"].error     # the videos that failed, and why

A video is never split across tasks: temporal activity, freezing and
flickering carry state from each frame to the next, so a video's frames are
analysed in order by one task. A video that cannot be analysed gives a row
with status "error" and the message; the others are not affected.
"""

import math
import os
import sys

import nrvq

__all__ = ["COLUMNS", "analyze_many", "analyze_one"]

# The columns of a summary row, in order.
COLUMNS = ("path", "status", "error", "frames", "width", "height", "fps", "notes", "events", "fatal") + tuple(
    f"{key}_{stat}" for key in nrvq.KEYS for stat in nrvq.STATISTICS)


def _failed_row(path, error):
    """The row of a video that could not be analysed: its path, status
    "error", the error's type and message, NaN for every value (fatal is
    None: not known)."""
    row = dict.fromkeys(COLUMNS, math.nan)
    row["fatal"] = None
    row.update(path=path, status="error", error=f"{type(error).__name__}: {error}", notes="")
    return row


def analyze_one(path, frames=False, frame_count=None, **options):
    """Analyses one video (nrvq.analyze's options, its frame limit named
    frame_count; threads defaults to 1) and returns its summary row: path,
    status ("ok"), error (""), frames analysed, width, height, fps, notes,
    events (how many events opened) and fatal (whether one was fatal: the
    command line's exit status 3), and per indicator the pooled statistics of Result.summary as
    "<key>_<statistic>" (count, left_out, mean, min, max, p5, p50, p95,
    stddev). With frames=True, returns (row, per-frame DataFrame).

    A video that cannot be analysed gives the row of analyze_many's failures
    (status "error", the message in error, NaN values; per-frame table None)
    instead of raising. MemoryError is raised, so that the scheduler can
    retry the task elsewhere."""
    path = os.fspath(path)
    options.setdefault("threads", 1)
    try:
        result = nrvq.analyze(path, frames=frame_count, **options)
    except MemoryError:
        raise
    except Exception as error:  # every other failure belongs to this video alone
        row = _failed_row(path, error)
        return (row, None) if frames else row
    row = {
        "path": path,
        "status": "ok",
        "error": "",
        "frames": result.frames,
        "width": result.width,
        "height": result.height,
        "fps": result.fps,
        "notes": result.notes,
        "events": len(result.events),
        "fatal": result.fatal,
    }
    row.update(result.summary_row())
    if frames:
        return row, result.to_pandas()
    return row


def _show_progress(futures):
    """Dask's progress bar for futures: a widget in a notebook (returned at
    once), a text bar in a terminal (until they are done)."""
    from distributed import progress
    from distributed.utils import is_kernel

    if is_kernel():
        from IPython.display import display

        display(progress(futures, notebook=True))
    else:
        progress(futures, notebook=False)


def analyze_many(paths, client=None, frames=False, frame_count=None, retries=2, progress=None, **options):
    """Analyses every video in paths, one task per video, and returns a pandas
    DataFrame of per-video summaries indexed by path, in the order of paths:
    one row per path (see analyze_one and COLUMNS), with status "ok", or
    "error" and the message in error for a video that could not be analysed.
    With frames=True, returns (summary, {path: per-frame DataFrame, None for
    a failed video}).

    paths is a list (or any iterable) of paths; an empty one gives an empty
    table; a single path (a str, bytes or os.PathLike) raises TypeError.

    client is a distributed.Client; without one, the tasks run on Dask's
    current scheduler (the default client if one is set up, else local
    threads). On a cluster, a task whose worker dies is run again on another
    (up to the scheduler's allowed-failures, after which the row says
    KilledWorker), and a task that raised MemoryError is retried up to
    retries times. progress shows Dask's progress bar (a widget in a
    notebook, a text bar in a terminal); None shows it when standard output
    is a terminal or a notebook runs the code.

    options are nrvq.analyze's: width, height, fps, start, frame_count
    (nrvq.analyze's frames: how many frames to examine), threads (1 per task
    unless given), reference, pix_fmt, stream, simd, only, skip, rules,
    rules_file and fail_on."""
    import dask
    import pandas

    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("paths must be a list of paths, not a single path: analyze_many([path])")
    paths = [os.fspath(p) for p in paths]
    if progress is None:
        from distributed.utils import is_kernel

        progress = sys.stdout.isatty() or is_kernel()
    tasks = [
        dask.delayed(analyze_one, pure=True)(p, frames=frames, frame_count=frame_count, **options) for p in paths
    ]
    if client is None:
        try:
            from distributed import default_client

            client = default_client()
        except (ImportError, ValueError):
            client = None
    if client is not None:
        futures = client.compute(tasks, retries=retries)
        if progress and futures:
            _show_progress(futures)
        # A failed task (a worker killed too often, memory exhausted on every
        # try) still gives its row.
        outcomes = []
        for path, future in zip(paths, futures):
            try:
                outcomes.append(future.result())
            except Exception as error:
                row = _failed_row(path, error)
                outcomes.append((row, None) if frames else row)
    elif progress:
        from dask.diagnostics import ProgressBar

        with ProgressBar():
            outcomes = list(dask.compute(*tasks))
    else:
        outcomes = list(dask.compute(*tasks))
    rows = [row for row, _ in outcomes] if frames else outcomes
    summary = pandas.DataFrame(rows, columns=list(COLUMNS)).set_index("path")
    if frames:
        return summary, {row["path"]: table for row, table in outcomes}
    return summary
