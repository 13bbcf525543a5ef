"""The Python module diffusim, built by the project's own CMake build.

    python3 -m pip install --no-build-isolation .

The extension diffusim._core is the CMake target diffusim_python, configured
in build/pip/<interpreter> (Release, against the interpreter running this
script, without the tests) and copied into the package; everything else is in
pyproject.toml. In the environment, CMAKE names another cmake, CMAKE_ARGS
adds options to the configure (kept in that build's cache, as CMake keeps
them), and CMAKE_BUILD_PARALLEL_LEVEL the number of jobs (default: one per
processor).
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def program_version():
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*diffusim\s+VERSION\s+([0-9][0-9.]*)", text)
    if not found:
        sys.exit("setup.py: CMakeLists.txt has no 'project(diffusim VERSION ...)'")
    return found.group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = ROOT / "build" / "pip" / sys.implementation.cache_tag
        cmake = os.environ.get("CMAKE", "cmake")
        if shutil.which(cmake) is None:
            sys.exit(f"setup.py: no {cmake} on the PATH (Debian: apt-get install cmake)")
        self._run([cmake, "-S", str(ROOT), "-B", str(build_dir),
                   "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF", "-DDIFFUSIM_PYTHON=ON",
                   f"-DPython3_EXECUTABLE={sys.executable}",
                   *shlex.split(os.environ.get("CMAKE_ARGS", ""))])
        build = [cmake, "--build", str(build_dir), "--target", "diffusim_python"]
        if self.parallel:
            build += ["--parallel", str(self.parallel)]
        elif "CMAKE_BUILD_PARALLEL_LEVEL" not in os.environ:
            build += ["--parallel", str(os.cpu_count() or 1)]
        self._run(build)

        suffix = Path(self.get_ext_filename("_core")).suffixes
        built = build_dir / "python" / "diffusim" / ("_core" + "".join(suffix))
        if not built.is_file():
            sys.exit(f"setup.py: the build made no {built}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)

    @staticmethod
    def _run(command):
        print(" ".join(command), flush=True)
        try:
            subprocess.run(command, cwd=ROOT, check=True)
        except subprocess.CalledProcessError as e:
            sys.exit(f"setup.py: {command[0]} failed (exit status {e.returncode}); "
                     "its messages are above")


setup(
    version=program_version(),
    ext_modules=[Extension("diffusim._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
