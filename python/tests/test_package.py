"""The package as a user installs it: pip into a fresh virtual environment
that sees the system's NumPy, offline, then used from another folder, gives
the command line's values."""

import json
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

from conftest import expect_log_values, run_tool

SCRIPT = """
import json, sys
import nrvq
assert nrvq.__file__.startswith(sys.prefix), nrvq.__file__
result = nrvq.analyze(sys.argv[1], width=101, height=59, fps="30000/1001", start=3, frames=12)
print(json.dumps({key: [float(v) for v in result[key]] for key in result} | {"version": nrvq.__version__}))
"""


def test_pip_install_into_a_fresh_environment(clips, workdir, tmp_path):
    source = os.environ.get("NRVQ_SOURCE_DIR")
    if not source:
        pytest.skip("NRVQ_SOURCE_DIR is not set")
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    venv = tmp_path / "env"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True, env=env)
    subprocess.run([venv / "bin" / "pip", "install", "--no-build-isolation", "--no-index", "--no-cache-dir",
                    "--quiet", source], check=True, env=env)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    clip = clips(101, 59, 20)
    out = subprocess.run([venv / "bin" / "python", "-c", SCRIPT, str(clip)], cwd=elsewhere, env=env, check=True,
                         capture_output=True, text=True).stdout
    values = json.loads(out)
    version = Path(source, "CMakeLists.txt").read_text().split("project(nrvq VERSION ")[1].split()[0]
    assert values.pop("version") == version
    rows = run_tool(clip, 101, 59, "--fps", "30000/1001", "--start", 3, "--frames", 12, workdir=workdir)
    expect_log_values(rows, {key: np.array(column) for key, column in values.items()})
