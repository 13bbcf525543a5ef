#!/usr/bin/python3
"""Tests that the diffusim-plot launcher finds its package: installed by
`cmake --install` into a prefix (moved elsewhere afterwards, or reached
through a symbolic link), and in the source tree.

    /usr/bin/python3 tests/plot/test_install_layout.py --build-dir build/release [--cmake cmake]

Without --build-dir (or DIFFUSIM_BUILD_DIR in the environment) the release
build in the source tree is installed.
"""

import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SOURCE_PACKAGE = os.path.join(ROOT, "tools", "diffusim_plot")
CMAKE = "cmake"
BUILD_DIR = None    # set by main()
TMP = None


def setUpModule():
    global TMP
    TMP = tempfile.TemporaryDirectory(prefix="diffusim-plot-install-")


def tearDownModule():
    TMP.cleanup()


def profile_csv(path):
    """A profile as diffusim profile writes it, its values the erfc solution."""
    d, t = 1.2e-13, 3600.0
    rows = [f"{i * 5e-06!r},{0.01 + 0.04 * math.erfc(i * 5e-06 / (2 * math.sqrt(d * t)))!r}"
            for i in range(101)]
    with open(path, "w") as f:
        f.write("# diffusim 1.0.0\n# command = profile\n# temperature = 1173\n"
                "# time = 3600\n# c0 = 0.01\n# cs = 0.05\n# dx = 5e-06\nx_m,c\n")
        f.write("\n".join(rows) + "\n")
    return path


def run(*args, cwd):
    env = dict(os.environ, MPLCONFIGDIR=os.path.join(TMP.name, "mplconfig"))
    return subprocess.run(list(args), capture_output=True, text=True, cwd=cwd, env=env,
                          timeout=60)


def package_used(launcher):
    """The directory of the package the launcher imports."""
    code = ("import runpy, sys; runpy.run_path(sys.argv[1]); "
            "print(sys.modules['diffusim_plot'].__file__)")
    proc = subprocess.run([sys.executable, "-c", code, launcher], capture_output=True,
                          text=True, timeout=60)
    if proc.returncode != 0:
        raise AssertionError(proc.stderr)
    return os.path.dirname(os.path.realpath(proc.stdout.strip()))


class InstalledLauncherTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = os.path.join(TMP.name, "prefix")
        proc = subprocess.run([CMAKE, "--install", BUILD_DIR, "--prefix", cls.prefix],
                              capture_output=True, text=True, timeout=120)
        if proc.returncode != 0:
            raise AssertionError(f"cmake --install failed:\n{proc.stdout}{proc.stderr}")
        cls.elsewhere = os.path.join(TMP.name, "elsewhere")
        os.makedirs(cls.elsewhere)
        cls.csv = profile_csv(os.path.join(cls.elsewhere, "profile.csv"))

    def plots(self, launcher, out_name):
        """Runs the launcher from a directory of its own: version, help and a plot."""
        proc = run(launcher, "--version", cwd=self.elsewhere)
        self.assertEqual((proc.returncode, proc.stdout, proc.stderr),
                         (0, "diffusim-plot 1.0.0\n", ""), launcher)
        proc = run(launcher, "--help", cwd=self.elsewhere)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertIn("Result_dx.txt", proc.stdout)
        out = os.path.join(self.elsewhere, out_name)
        proc = run(launcher, "profile.csv", "-o", out, "--D", "1.2e-13", cwd=self.elsewhere)
        self.assertEqual((proc.returncode, proc.stderr), (0, ""), launcher)
        with open(out, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
        self.assertGreater(os.path.getsize(out), 10000)

    def test_every_module_is_installed(self):
        installed = os.path.join(self.prefix, "share", "diffusim", "diffusim_plot")
        modules = sorted(n for n in os.listdir(SOURCE_PACKAGE) if n.endswith(".py"))
        self.assertIn("cli.py", modules)
        self.assertEqual(sorted(os.listdir(installed)), modules)
        launcher = os.path.join(self.prefix, "bin", "diffusim-plot")
        self.assertTrue(os.access(launcher, os.X_OK))

    def test_installed_launcher_uses_the_installed_package(self):
        launcher = os.path.join(self.prefix, "bin", "diffusim-plot")
        self.assertEqual(package_used(launcher),
                         os.path.realpath(os.path.join(self.prefix, "share", "diffusim",
                                                       "diffusim_plot")))
        self.plots(launcher, "installed.png")

    def test_prefix_moved_and_reached_through_a_link(self):
        moved = os.path.join(TMP.name, "moved")
        shutil.copytree(self.prefix, moved, symlinks=True)
        launcher = os.path.join(moved, "bin", "diffusim-plot")
        self.assertEqual(package_used(launcher),
                         os.path.realpath(os.path.join(moved, "share", "diffusim",
                                                       "diffusim_plot")))
        self.plots(launcher, "moved.png")
        link = os.path.join(TMP.name, "links", "diffusim-plot")
        os.makedirs(os.path.dirname(link))
        os.symlink(launcher, link)
        self.plots(link, "link.png")

    def test_launcher_without_its_package(self):
        lone = os.path.join(TMP.name, "lone", "bin", "diffusim-plot")
        os.makedirs(os.path.dirname(lone))
        shutil.copy(os.path.join(self.prefix, "bin", "diffusim-plot"), lone)
        proc = run(lone, "profile.csv", "-o", "x.png", cwd=self.elsewhere)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(len(proc.stderr.strip().splitlines()), 1, proc.stderr)
        self.assertNotIn("Traceback", proc.stderr)
        self.assertIn("diffusim_plot", proc.stderr)
        self.assertIn(os.path.join(TMP.name, "lone", "share", "diffusim"), proc.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.elsewhere, "x.png")))


class SourceTreeLauncherTests(unittest.TestCase):
    def test_source_launcher_uses_the_source_package(self):
        launcher = os.path.join(ROOT, "tools", "diffusim-plot")
        self.assertEqual(package_used(launcher), os.path.realpath(SOURCE_PACKAGE))

    def test_module_form_runs_the_same_command(self):
        proc = subprocess.run([sys.executable, "-m", "diffusim_plot", "--version"],
                              capture_output=True, text=True, timeout=60,
                              cwd=os.path.join(ROOT, "tools"),
                              env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
        self.assertEqual((proc.returncode, proc.stdout), (0, "diffusim-plot 1.0.0\n"))


def main():
    global BUILD_DIR, CMAKE
    argv = sys.argv[:]
    for option in ("--build-dir", "--cmake"):
        if option in argv:
            i = argv.index(option)
            if option == "--cmake":
                CMAKE = argv[i + 1]
            else:
                BUILD_DIR = argv[i + 1]
            del argv[i:i + 2]
    BUILD_DIR = os.path.abspath(BUILD_DIR or os.environ.get("DIFFUSIM_BUILD_DIR")
                                or os.path.join(ROOT, "build", "release"))
    if not os.path.isfile(os.path.join(BUILD_DIR, "cmake_install.cmake")):
        sys.exit(f"no configured build at {BUILD_DIR}: pass --build-dir DIR "
                 "or set DIFFUSIM_BUILD_DIR")
    unittest.main(argv=argv)


if __name__ == "__main__":
    main()
