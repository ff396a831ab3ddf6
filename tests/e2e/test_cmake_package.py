"""The VeltraPack CMake package, used the way a project uses it: the host
tree installed into a scratch prefix, tests/cmake-sample cross-built against
it with the i686 toolchain, its Setup.exe made by veltra_add_setup and by
`cpack -G External`, and both installed under Wine, where they run the
sample's program.

Environment: as every e2e test, and VELTRA_HOST_BUILD (default: the tree
that VELTRA_PACK was built in), whose install rules give the prefix.
"""
import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import textwrap
import time
import unittest

import e2e
import driver

REPO = e2e.HERE.parent.parent
SAMPLE = REPO / "tests" / "cmake-sample"
TOOLCHAIN = REPO / "cmake" / "i686-w64-mingw32.cmake"
HOST_BUILD = pathlib.Path(os.environ.get("VELTRA_HOST_BUILD") or e2e.PACK.parent.parent)
CABINET_DLL = pathlib.Path(os.environ.get("VELTRA_CABINET_DLL", ""))
VERSION = "1.4.2"
CPACK_SETUP = "hello-%s-win32.exe" % VERSION
# What the sample's program writes when the install runs it (text mode: CR LF).
MARK = ("hello %s\r\n" % VERSION).encode()


def run(*args, cwd=None):
    done = subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(map(str, args)), done.returncode,
                                                        done.stdout, done.stderr))
    return done


def install_tool(prefix):
    """The host tree's install into `prefix`: the builder, the stub and the
    cabinet library in the layout the package config expects, nothing else."""
    run("cmake", "--install", HOST_BUILD, "--prefix", prefix)
    for place in (prefix / "bin" / "veltra-pack", prefix / "lib" / "veltra" / "veltra-stub.exe",
                  prefix / "lib" / "veltra" / "cabinet-veltra.dll",
                  prefix / "lib" / "cmake" / "VeltraPack" / "VeltraPackConfig.cmake"):
        if not place.is_file():
            raise AssertionError("the install left out %s" % place)


class CMakePackageTest(e2e.DestinationTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if not CABINET_DLL.is_file() or not (HOST_BUILD / "cmake_install.cmake").is_file():
            raise unittest.SkipTest("VELTRA_CABINET_DLL and an installable VELTRA_HOST_BUILD are needed")
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="veltra-cmake-"))
        # Moved after the install, as the package is meant to allow; the
        # name has a blank, as install folders often do.
        installed = cls.scratch / "installed"
        install_tool(installed)
        cls.prefix = installed.rename(cls.scratch / "tool prefix")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(getattr(cls, "scratch", ""), ignore_errors=True)
        super().tearDownClass()

    def configure(self, generator):
        """A copy of the sample (so that a test may touch its files), configured."""
        source = self.tmp / "sample"
        shutil.copytree(SAMPLE, source)
        build = self.tmp / ("build " + generator)
        run("cmake", "-S", source, "-B", build, "-G", generator, "-DCMAKE_BUILD_TYPE=Release",
            "-DCMAKE_TOOLCHAIN_FILE=" + str(TOOLCHAIN), "-DCMAKE_PREFIX_PATH=" + str(self.prefix))
        return source, build

    def install(self, setup_exe):
        """Runs the package quietly into this test's destination; its exit code."""
        process = driver.launch(str(setup_exe), "/quiet", "/D=" + self.dest)
        try:
            return self.finish(process)
        finally:
            e2e.stop_process(process)

    def installed(self):
        root = e2e.prefix_path(self.dest)
        return {str(p.relative_to(root)).replace("/", "\\"): p.read_bytes()
                for p in root.rglob("*") if p.is_file()}

    def listed(self, setup_exe):
        out = run(e2e.PACK, "list", setup_exe, "--json").stdout
        return {f["name"] for f in json.loads(out)["files"]}

    def test_both_packages_install_the_program_and_run_it(self):
        source, build = self.configure("Ninja")
        run("cmake", "--build", build, "-j2")
        run("cpack", "-G", "External", cwd=build)
        readme = (source / "readme.txt").read_bytes()
        cases = [
            # name, Setup.exe, where the program lands
            ("veltra_add_setup", build / "HelloSetup.exe", "hello.exe"),
            ("cpack -G External", build / CPACK_SETUP, "bin\\hello.exe"),
        ]
        for name, setup_exe, program in cases:
            with self.subTest(name):
                shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)
                self.assertEqual(0, self.install(setup_exe))
                files = self.installed()
                self.assertEqual({program, "readme.txt", "installed.txt"}, set(files))
                self.assertEqual(readme, files["readme.txt"])
                self.assertEqual(MARK, files["installed.txt"], "the program ran after the install")
                self.assertEqual(set(), self.new_work_folders())

    def test_cpack_takes_the_project_settings(self):
        source, build = self.configure("Ninja")
        run("cmake", "--build", build, "-j2")
        template = self.tmp / "template.ini"
        template.write_text("[Setup]\nAppName = ${PACKAGE_NAME} by ${PACKAGE_VENDOR}\n"
                            "[Files]\nprogram\\ = ${INSTALL_TREE}/program/bin\n")
        cases = [
            # name, cpack arguments, AppName, licence text, stored names
            ("every component in one package", [], "hello",
             (source / "license.txt").read_text().rstrip("\n"), {"bin\\hello.exe", "readme.txt"}),
            ("a monolithic install", ["-D", "CPACK_MONOLITHIC_INSTALL=ON"], "hello",
             (source / "license.txt").read_text().rstrip("\n"), {"bin\\hello.exe", "readme.txt"}),
            ("the author's project file", ["-D", "CPACK_VELTRA_PROJECT=" + str(template)],
             "hello by Example Ltd", "", {"program\\hello.exe"}),
        ]
        for name, args, app_name, licence, stored in cases:
            with self.subTest(name):
                (build / CPACK_SETUP).unlink(missing_ok=True)
                run("cpack", "-G", "External", *args, cwd=build)
                self.assertEqual(stored, self.listed(build / CPACK_SETUP))
                script = json.loads(run(e2e.PACK, "info", build / CPACK_SETUP, "--json").stdout)["setupScript"]
                self.assertEqual(app_name, script["AppName"])
                self.assertEqual(licence, script["LicenseText"]["text"])

    def test_readme_snippets_are_the_samples(self):
        readme = (REPO / "README.md").read_text()
        section = readme[readme.index("### From a CMake project"):]
        section = section[:section.index("\n### ", 1)]
        fenced = [b.split("```")[0] for b in section.split("```cmake\n")[1:]]
        indented = re.findall(r"\n\n((?:    .*\n)+)", section)
        cases = [
            ("CMake", fenced, SAMPLE / "CMakeLists.txt"),
            ("project file", [textwrap.dedent(b) for b in indented], SAMPLE / "hello.ini"),
        ]
        for name, blocks, sample in cases:
            with self.subTest(name):
                self.assertTrue(blocks, "no %s snippet" % name)
                for block in blocks:
                    self.assertIn(block, sample.read_text())

    def test_setup_is_rebuilt_when_an_input_changes(self):
        cases = [
            # name, file of the sample touched (None: a build with nothing changed), rebuilt
            ("nothing changed", None, False),
            ("the project file", "hello.ini", True),
            ("a file listed in FILES", "readme.txt", True),
            ("the source of a target in DEPENDS", "hello.c", True),
        ]
        for generator in ("Ninja", "Unix Makefiles"):
            source, build = self.configure(generator)
            setup_exe = build / "HelloSetup.exe"
            run("cmake", "--build", build, "-j2")
            for name, touched, rebuilt in cases:
                with self.subTest(generator=generator, input=name):
                    before = setup_exe.stat().st_mtime_ns
                    if touched:
                        # Later than the Setup.exe for certain: file times come from a
                        # coarse clock, and a plain touch right after a build may give
                        # the input the output's own time, which no build tool reads
                        # as a change.
                        when = max(time.time_ns(), before + 10_000_000)
                        os.utime(source / touched, ns=(when, when))
                    run("cmake", "--build", build, "-j2")
                    self.assertEqual(rebuilt, setup_exe.stat().st_mtime_ns != before)
            shutil.rmtree(source)


if __name__ == "__main__":
    unittest.main()
