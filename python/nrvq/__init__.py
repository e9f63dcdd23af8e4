"""No-reference video quality indicators measured on the luma plane.

    import nrvq
    result = nrvq.analyze("clip.yuv", width=512, height=288)
    result["blur"]          # one NumPy array per indicator key, NaN where not measured
    result.to_pandas()      # the same as a pandas DataFrame indexed by frame
    result.summary["blur"]  # pooled statistics: count, mean, min, max, percentiles

    analyzer = nrvq.Analyzer(512, 288, fps=25)
    values = analyzer.push(luma)   # 2-D uint8 array of shape (height, width)

nrvq.analyze takes the command line's options: fps as a number or "N/D",
pix_fmt, stream, start, frames, threads, reference and simd.
"""

import os

from ._nrvq import KEYS, SIMD_LEVELS, Analyzer, InputError, __version__, indicator_table, parse_frame_rate
from ._nrvq import analyze_file as _analyze_file

__all__ = ["KEYS", "SIMD_LEVELS", "STATISTICS", "Analyzer", "InputError", "Result", "analyze", "indicator_table",
           "parse_frame_rate"]

# The pooled statistics of every indicator, in Result.summary and its rows.
STATISTICS = ("count", "left_out", "mean", "min", "max", "p5", "p50", "p95", "stddev")


class Result(dict):
    """Per-frame values of one video: "frame" (int64) and one float64 array per
    indicator key, in the indicator table's order. Attributes: path, width,
    height, fps, start (first frame examined), notes (what the reader had to
    say at the end, e.g. frames the file lacked), summary (per key, the pooled
    statistics of its finite measured values: count, left_out, mean, min, max,
    p5, p50, p95, stddev; NaN where count is 0), spans (per flag, blackout
    and freezing, the (first, last) frame runs where it is set), times (per
    key, the processor seconds the indicator took) and process_seconds (the
    process's processor seconds during the run)."""

    def __init__(self, columns, info, summary, spans):
        super().__init__(columns)
        self.summary = summary
        self.spans = spans
        self.path = info["path"]
        self.width = info["width"]
        self.height = info["height"]
        self.fps = info["fps"]
        self.start = info["start"]
        self.notes = info["notes"]
        self.times = info["times"]
        self.process_seconds = info["process_seconds"]

    def __len__(self):
        """How many frames were analysed."""
        return len(self["frame"])

    @property
    def frames(self):
        """How many frames were analysed."""
        return len(self["frame"])

    def to_pandas(self):
        """The values as a pandas DataFrame indexed by frame (needs pandas)."""
        import pandas

        return pandas.DataFrame({key: self[key] for key in KEYS}, index=pandas.Index(self["frame"], name="frame"))

    def summary_row(self):
        """The summary flattened to one dict keyed "<key>_<statistic>"."""
        return {f"{key}_{stat}": self.summary[key][stat] for key in KEYS for stat in STATISTICS}


def analyze(path, width=None, height=None, fps=None, start=0, frames=None, threads=None, reference=False,
            pix_fmt=None, stream=None, simd=None):
    """Analyses every frame of the input at path ("-" for standard input),
    opened as the command line opens it, and returns a Result.

    The arguments are the command line's: width and height (a raw file needs
    them; a YUV4MPEG2 file or a container says its own), fps (a number or
    text such as "30000/1001"; default what the input says, else 25), start
    (first frame examined), frames (how many; all when None), threads (None:
    one per online core; the values are the same for every count), reference
    (the literal versions of the indicators; same values, slower), pix_fmt
    (raw layout: yuv420p, yuv422p, yuv444p, gray, yuv420p10le, yuv422p10le,
    yuv444p10le, gray10le), stream (video stream of a container file,
    counted over all its streams) and simd (instruction set of the fast
    kernels, one of SIMD_LEVELS; it holds for the whole process, as the
    command line's --simd; default "best").

    Raises nrvq.InputError (an OSError) when the input cannot be opened or
    read, ValueError or TypeError for bad arguments."""
    raw = _analyze_file(
        os.fspath(path), width=width, height=height, fps=fps, start=start, frames=frames, threads=threads,
        reference=reference, pix_fmt=pix_fmt, stream=stream, simd=simd)
    return Result(raw["columns"], raw["info"], raw["summary"], raw["spans"])
