"""Builds the Python package nrvq: the extension through the project's own
CMake build, so that it is compiled with the same flags and instruction-set
dispatch as the command line, and the pure-Python files from python/nrvq.

    /usr/bin/python3 -m venv --system-site-packages env
    env/bin/pip install --no-build-isolation .

NRVQ_CMAKE_BUILD_DIR names an existing CMake build tree (configured with
-DNRVQ_PYTHON=ON for the same interpreter) to build the extension in instead
of a fresh one; CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs."""

import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def project_version():
    """The version that CMakeLists.txt's project() owns."""
    match = re.search(r"project\(\s*nrvq\s+VERSION\s+([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    if not match:
        raise RuntimeError("CMakeLists.txt names no project version")
    return match.group(1)


class CMakeExtension(Extension):
    """An extension that the project's CMake build makes (target nrvq_python)."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    """Configures and builds the CMake target nrvq_python for this
    interpreter and copies the module it makes into the package."""

    def build_extension(self, ext):
        cmake = shutil.which("cmake")
        if cmake is None:
            raise RuntimeError("building nrvq needs CMake (Debian: apt-get install cmake)")
        build_dir = os.environ.get("NRVQ_CMAKE_BUILD_DIR")
        if build_dir:
            build_dir = Path(build_dir).resolve()
        else:
            build_dir = Path(self.build_temp).resolve() / "cmake"
            subprocess.run([cmake, "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                            "-DNRVQ_PYTHON=ON", "-DBUILD_TESTING=OFF", f"-DPython3_EXECUTABLE={sys.executable}"],
                           check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run([cmake, "--build", str(build_dir), "--target", "nrvq_python", "-j", jobs], check=True)
        built = build_dir / "python" / "nrvq" / ("_nrvq" + sysconfig.get_config_var("EXT_SUFFIX"))
        if not built.exists():
            raise RuntimeError(f"{built} was not built: is {build_dir} configured for {sys.executable}?")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)
        # The decoder module, which the extension opens from its own folder
        # when it first meets compressed video.
        decoder = built.parent / "nrvq-decoder.so"
        if decoder.exists():
            shutil.copyfile(decoder, target.parent / decoder.name)


setup(
    version=project_version(),
    packages=["nrvq"],
    package_dir={"": "python"},
    package_data={"nrvq": ["py.typed", "*.pyi"]},
    ext_modules=[CMakeExtension("nrvq._nrvq")],
    cmdclass={"build_ext": CMakeBuild},
    # setuptools' own build folders, apart from the CMake build tree build/.
    options={"build": {"build_base": "build/python-package"}},
    zip_safe=False,
)
