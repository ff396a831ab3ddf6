"""Where the stub takes its cabinet and LZ libraries from: the system folder
only, never a copy planted beside Setup.exe; and the package's own copy in
block 3 when the system has no cabinet library."""
import os
import re
import shutil
import subprocess
import unittest

import cabfile
import e2e

STAMP = cabfile.dos_stamp(2022, 1, 2, 3, 4, 6)
NO_LIBRARY = "Unable to initialize CABINET.DLL."


class LibraryTest(e2e.E2ETestCase):
    def setUp(self):
        super().setUp()
        self.dest = "C:\\veltra-e2e\\" + self._testMethodName
        shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)
        self.saved_overrides = os.environ.get("WINEDLLOVERRIDES")

    def tearDown(self):
        if self.saved_overrides is None:
            os.environ.pop("WINEDLLOVERRIDES", None)
        else:
            os.environ["WINEDLLOVERRIDES"] = self.saved_overrides
        shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)
        super().tearDown()

    def package(self, cablib=None):
        script = e2e.setup_script(dest=self.dest)
        info = cabfile.write_cabinet(self.tmp / "info.cab", [("~DAT1.", script, STAMP, 0x20)])
        payload = cabfile.write_cabinet(self.tmp / "payload.cab",
                                        [("dir\\file.txt", b"content\r\n", STAMP, 0x20)])
        args = [str(e2e.PACK), "assemble", "--stub", str(e2e.STUB), "--info", str(info),
                "--payload", str(payload), "--out", str(self.tmp / "Setup.exe")]
        if cablib is not None:
            args += ["--cablib", str(cablib)]
        subprocess.run(args, check=True)
        return self.tmp / "Setup.exe"

    def plant(self, *names):
        planted = os.environ.get("VELTRA_PLANTED")
        if not planted:
            self.skipTest("VELTRA_PLANTED not set")
        for name in names:
            shutil.copy(planted, self.tmp / name)
        return self.tmp / "planted-loaded.txt"

    def cabinet_library(self, mscompress):
        """The DLL SZDD-compressed by mscompress, or by the builder's own
        encoder (block 3 of a package that the builder made from a project)."""
        dll = os.environ.get("VELTRA_CABINET_DLL")
        if not dll:
            self.skipTest("VELTRA_CABINET_DLL not set")
        shutil.copy(dll, self.tmp / "cablib.dll")
        if mscompress:
            subprocess.run(["mscompress", str(self.tmp / "cablib.dll")], check=True,
                           capture_output=True)
            return self.tmp / "cablib.dll_"
        (self.tmp / "one.txt").write_bytes(b"one\r\n")
        project = self.tmp / "lib.ini"
        project.write_text("[Setup]\nAppName = Lib\n\n[Package]\nStub = %s\nCabinetLibrary = %s\n\n"
                           "[Files]\none.txt = %s\n" % (e2e.STUB, self.tmp / "cablib.dll",
                                                       self.tmp / "one.txt"))
        built = self.tmp / "lib.exe"
        subprocess.run([str(e2e.PACK), "build", str(project), "-o", str(built)], check=True,
                       capture_output=True)
        info = subprocess.run([str(e2e.PACK), "info", str(built)], check=True, capture_output=True,
                              text=True).stdout
        offset, size = map(int, re.search(r"cabinet library +offset (\d+) +size (\d+)", info).groups())
        block = built.read_bytes()[offset:offset + size]
        self.assertEqual(b"SZDD", block[:4])
        (self.tmp / "ours.dl_").write_bytes(block)
        return self.tmp / "ours.dl_"

    def installed(self):
        return (e2e.prefix_path(self.dest) / "dir" / "file.txt").is_file()

    def test_planted_libraries_beside_setup_are_never_loaded(self):
        setup = self.package()
        marker = self.plant("cabinet.dll", "lz32.dll")
        # Prefer native libraries from the program's folder, as Windows does.
        os.environ["WINEDLLOVERRIDES"] = "cabinet,lz32=n,b"
        # The check is sound: an ordinary search from that folder takes the plant.
        shutil.copy(os.environ["VELTRA_LOADPLAIN"], self.tmp / "loadplain.exe")
        subprocess.run(e2e.driver.wine_command(self.tmp / "loadplain.exe", "cabinet.dll"),
                       env=e2e.driver.wine_environment(), check=True, timeout=300)
        self.assertTrue(marker.exists(), "the planted library should load by bare name")
        marker.unlink()

        self.assertEqual(0, self.finish(self.start(setup)))
        self.assertTrue(self.installed())
        self.assertFalse(marker.exists())

    def test_package_library_serves_when_the_system_has_none(self):
        # Block 3 made by mscompress, and by our encoder, expanded by the
        # system's LZ functions (Wine's own lz32, not the planted one).
        for name, mscompress in (("mscompress", True), ("our SZDD encoder", False)):
            with self.subTest(name):
                setup = self.package(cablib=self.cabinet_library(mscompress))
                marker = self.plant("lz32.dll")
                os.environ["WINEDLLOVERRIDES"] = "cabinet=d;lz32=n,b"
                self.assertEqual(0, self.finish(self.start(setup)))
                self.assertTrue(self.installed())
                self.assertFalse(marker.exists())
                self.assertEqual(set(), self.new_work_folders())  # "~DLL2.$$$" went with it
                shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)

    def test_unusable_package_library_is_reported(self):
        for name, block in (("empty", None), ("not SZDD", b"MZ garbage" * 50)):
            with self.subTest(name):
                cablib = None
                if block is not None:
                    cablib = self.tmp / "bad.dl_"
                    cablib.write_bytes(block)
                setup = self.package(cablib=cablib)
                os.environ["WINEDLLOVERRIDES"] = "cabinet=d"
                self.expect_box_then_exit(setup, "Veltra", NO_LIBRARY, 1)
                self.assertFalse(self.installed())
                self.assertEqual(set(), self.new_work_folders())


if __name__ == "__main__":
    unittest.main(verbosity=2)
