"""No-reference video quality indicators measured on the luma plane.

    import nrvq
    result = nrvq.analyze("clip.yuv", width=512, height=288)
    result["blur"]          # one NumPy array per indicator key, NaN where not measured
    result.seconds          # each frame's time in seconds (result["time"])
    result.to_pandas()      # the same as a pandas DataFrame indexed by frame
    result.summary["blur"]  # pooled statistics: count, mean, min, max, percentiles
    result.events           # spans where a rule's condition held, as the JSON output's
    result.fatal            # whether a fatal event opened (the command line's exit status 3)

    analyzer = nrvq.Analyzer(512, 288, fps=25)
    values = analyzer.push(luma)   # 2-D uint8 array of shape (height, width)

nrvq.analyze takes the command line's options: fps as a number or "N/D",
pix_fmt, stream, start, frames, threads, reference, simd, the selection
only and skip, and the event rules rules, rules_file and fail_on.
"""

import os

from ._nrvq import KEYS, SIMD_LEVELS, Analyzer, InputError, __version__, indicator_table, parse_frame_rate
from ._nrvq import analyze_file as _analyze_file

__all__ = ["KEYS", "OPINION_KEYS", "SIMD_LEVELS", "STATISTICS", "Analyzer", "InputError", "Result", "analyze", "indicator_table",
           "parse_frame_rate"]

# The pooled statistics of every indicator, in Result.summary and its rows.
STATISTICS = ("count", "left_out", "mean", "min", "max", "p5", "p50", "p95", "stddev")

# The opinion-score columns that follow the indicators, as in the CSV output.
OPINION_KEYS = ("blockiness_mos", "blur_mos")


class Result(dict):
    """Per-frame values of one video, as the CSV output has them: "frame"
    (int64), "time" (float64, the frame's time in seconds: the container's
    timestamp for decoded files, frame / fps otherwise), one float64 array per
    indicator key in the indicator table's order (NaN where not measured, and
    throughout for an indicator left out by only or skip), then
    "blockiness_mos" and "blur_mos", the two indicators' mappings to a mean
    opinion score.

    Attributes: path, width, height, fps, start (first frame examined), notes
    (what the reader had to say at the end, e.g. frames the file lacked),
    seconds (the frame times, the same array as result["time"]), summary (per
    key, the pooled statistics of its finite measured values: count,
    left_out, mean, min, max, p5, p50, p95, stddev; NaN where count is 0),
    spans (per flag, blackout and freezing, the (first, last) frame runs where
    it is set), events (one dict per event, in the order they opened, as the
    JSON output's: indicator, severity, first, last, start, end, peak, rule),
    fatal (whether a fatal event opened), times (per key, the processor
    seconds the indicator took; not frame times) and process_seconds (the
    process's processor seconds during the run)."""

    def __init__(self, columns, info, summary, spans, events=()):
        super().__init__(columns)
        self.summary = summary
        self.spans = spans
        self.events = list(events)
        self.path = info["path"]
        self.width = info["width"]
        self.height = info["height"]
        self.fps = info["fps"]
        self.start = info["start"]
        self.notes = info["notes"]
        self.times = info["times"]
        self.process_seconds = info["process_seconds"]
        self.fatal = info.get("fatal", False)

    @property
    def seconds(self):
        """Each frame's time in seconds (result["time"]); result.times is the
        processor time of each indicator instead."""
        return self["time"]

    def __len__(self):
        """How many frames were analysed."""
        return len(self["frame"])

    @property
    def frames(self):
        """How many frames were analysed."""
        return len(self["frame"])

    def to_pandas(self):
        """The values as a pandas DataFrame indexed by frame: time, every
        indicator key, blockiness_mos and blur_mos (needs pandas)."""
        import pandas

        names = ("time", *KEYS, *OPINION_KEYS)
        return pandas.DataFrame({key: self[key] for key in names}, index=pandas.Index(self["frame"], name="frame"))

    def summary_row(self):
        """The summary flattened to one dict keyed "<key>_<statistic>"."""
        return {f"{key}_{stat}": self.summary[key][stat] for key in KEYS for stat in STATISTICS}


def _keys(name, value):
    """A selection as comma-separated keys: a list of keys, or one text."""
    if value is None:
        return ""
    if isinstance(value, str):
        return value
    if isinstance(value, bytes) or not all(isinstance(key, str) for key in value):
        raise TypeError(f"{name} must be a list of indicator keys")
    if not value:
        raise ValueError(f"{name} is empty: give at least one indicator key")
    return ",".join(value)


def analyze(path, width=None, height=None, fps=None, start=0, frames=None, threads=None, reference=False,
            pix_fmt=None, stream=None, simd=None, only=None, skip=None, rules=None, rules_file=None,
            fail_on=None):
    """Analyses every frame of the input at path ("-" for standard input),
    opened as the command line opens it, and returns a Result.

    The arguments are the command line's: width and height (a raw file needs
    them; a YUV4MPEG2 file or a container says its own), fps (a number or
    text such as "30000/1001", from 0.001 to 100000; default what the input
    says, else 25), start (first frame examined), frames (how many; all when
    None), threads (None: one per online core; the values are the same for
    every count), reference (the literal versions of the indicators; same
    values, slower), pix_fmt (raw layout: yuv420p, yuv422p, yuv444p, gray,
    yuv420p10le, yuv422p10le, yuv444p10le, gray10le), stream (video stream
    of a container file, counted over all its streams), simd (instruction
    set of the fast kernels, one of SIMD_LEVELS; it holds for the whole
    process, as the command line's --simd; default "best"), only and skip
    (lists of indicator keys, as --only and --skip: compute only these, or
    all but these; the others read NaN), rules (rule texts as --rule takes
    them, "blur > 12 for 1s : fatal"), rules_file (a TOML rules file, as
    --rules) and fail_on (kinds made fatal, as --fail-on: "freezing,blackout",
    "any" or "warning", or a list of them).

    Raises nrvq.InputError (an OSError) when the input cannot be opened or
    read, ValueError or TypeError for bad arguments (an unknown key, a bad
    rule, a rate of 0)."""
    if isinstance(rules, str):
        raise TypeError("rules must be a list of rule texts, not one text")
    if fail_on is not None and not isinstance(fail_on, str):
        fail_on = ",".join(fail_on)
    raw = _analyze_file(
        os.fspath(path), width=width, height=height, fps=fps, start=start, frames=frames, threads=threads,
        reference=reference, pix_fmt=pix_fmt, stream=stream, simd=simd, only=_keys("only", only),
        skip=_keys("skip", skip), rules=list(rules or ()),
        rules_file=None if rules_file is None else os.fspath(rules_file), fail_on=fail_on)
    return Result(raw["columns"], raw["info"], raw["summary"], raw["spans"], raw["events"])
