"""The extension module; use the package nrvq."""

from typing import Any, TypedDict

import numpy as np
import numpy.typing as npt
from typing_extensions import Unpack

__version__: str
KEYS: tuple[str, ...]
SIMD_LEVELS: tuple[str, ...]

class InputError(OSError):
    """The input cannot be opened or read; the message is a complete sentence."""

class Analyzer:
    """Frame-by-frame analysis of one video whose luma planes the caller pushes in order."""

    def __init__(self, width: int, height: int, fps: float = ..., reference: bool = False) -> None: ...
    def push(self, luma: npt.NDArray[np.uint8]) -> dict[str, float]:
        """Analyses one (height, width) uint8 luma plane; "frame" and every key, NaN where not measured."""
    @property
    def width(self) -> int:
        """Samples per row."""
    @property
    def height(self) -> int:
        """Rows per frame."""
    @property
    def fps(self) -> float:
        """The frame rate."""
    @property
    def frames(self) -> int:
        """Frames pushed so far."""

def indicator_table() -> list[dict[str, Any]]:
    """One dict per indicator: key, kind, type, log_field, measured_on_first_frame."""

def parse_frame_rate(text: str) -> float:
    """A frame rate as the command line reads it ("25", "29.97", "30000/1001")."""

class _InputOptions(TypedDict, total=False):
    """The command line's options for reading an input, as analyze_file and nrvq.analyze take them."""

    fps: float | str | None
    start: int
    frames: int | None
    threads: int | None
    reference: bool
    pix_fmt: str | None
    stream: int | None
    simd: str | None

def analyze_file(
    path: str,
    width: int | None = None,
    height: int | None = None,
    *,
    only: str = "",
    skip: str = "",
    rules: list[str] = [],
    rules_file: str | None = None,
    fail_on: str | None = None,
    **options: Unpack[_InputOptions],
) -> dict[str, Any]:
    """The raw form of nrvq.analyze."""
