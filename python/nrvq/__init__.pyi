"""No-reference video quality indicators measured on the luma plane."""

import os
from collections.abc import Iterable, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt
import pandas
from typing_extensions import Unpack

from ._nrvq import KEYS as KEYS
from ._nrvq import SIMD_LEVELS as SIMD_LEVELS
from ._nrvq import Analyzer as Analyzer
from ._nrvq import InputError as InputError
from ._nrvq import __version__ as __version__
from ._nrvq import indicator_table as indicator_table
from ._nrvq import _InputOptions
from ._nrvq import parse_frame_rate as parse_frame_rate

STATISTICS: tuple[str, ...]
OPINION_KEYS: tuple[str, ...]

class Result(dict[str, npt.NDArray[Any]]):
    """Per-frame values of one video: "frame" (int64), "time" (seconds), one
    float64 array per key, "blockiness_mos" and "blur_mos"."""

    path: str
    width: int
    height: int
    fps: float
    start: int
    notes: str
    summary: dict[str, dict[str, float]]
    spans: dict[str, list[tuple[int, int]]]
    events: list[dict[str, Any]]
    """One dict per event: indicator, severity, first, last, start, end, peak, rule."""
    fatal: bool
    """Whether a fatal event opened."""
    times: dict[str, float]
    """Processor seconds per indicator (not frame times: see seconds)."""
    process_seconds: float
    def __init__(self, columns: dict[str, npt.NDArray[Any]], info: dict[str, Any],
                 summary: dict[str, dict[str, float]], spans: dict[str, list[tuple[int, int]]],
                 events: Iterable[dict[str, Any]] = ()) -> None: ...
    @property
    def seconds(self) -> npt.NDArray[np.float64]:
        """Each frame's time in seconds (result["time"])."""
    @property
    def frames(self) -> int:
        """How many frames were analysed."""
    def to_pandas(self) -> pandas.DataFrame:
        """The values as a DataFrame indexed by frame."""
    def summary_row(self) -> dict[str, float]:
        """The summary flattened to "<key>_<statistic>"."""

def analyze(
    path: str | os.PathLike[str],
    width: int | None = None,
    height: int | None = None,
    *,
    only: Sequence[str] | str | None = None,
    skip: Sequence[str] | str | None = None,
    rules: Sequence[str] | None = None,
    rules_file: str | os.PathLike[str] | None = None,
    fail_on: Sequence[str] | str | None = None,
    **options: Unpack[_InputOptions],
) -> Result:
    """Analyses every frame of the input at path, opened as the command line opens it."""
