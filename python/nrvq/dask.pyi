"""Many videos on a Dask cluster: one task per video."""

import os
from collections.abc import Iterable
from typing import Any, Literal, overload

import pandas

COLUMNS: tuple[str, ...]

@overload
def analyze_one(path: str | os.PathLike[str], frames: Literal[False] = False, frame_count: int | None = None,
                **options: Any) -> dict[str, Any]: ...
@overload
def analyze_one(path: str | os.PathLike[str], frames: Literal[True], frame_count: int | None = None,
                **options: Any) -> tuple[dict[str, Any], pandas.DataFrame | None]: ...
@overload
def analyze_many(paths: Iterable[str | os.PathLike[str]], client: Any = None, frames: Literal[False] = False,
                 frame_count: int | None = None, retries: int = 2, progress: bool | None = None,
                 **options: Any) -> pandas.DataFrame: ...
@overload
def analyze_many(paths: Iterable[str | os.PathLike[str]], client: Any, frames: Literal[True],
                 frame_count: int | None = None, retries: int = 2, progress: bool | None = None,
                 **options: Any) -> tuple[pandas.DataFrame, dict[str, pandas.DataFrame | None]]: ...
