"""Where the stub takes its cabinet and LZ libraries from: the system folder
only, never a copy planted beside Setup.exe; and the package's own copy in
block 3 when the system has no cabinet library."""
import os
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
        """The DLL, compressed by mscompress, or plain for the builder to
        compress with our own SZDD encoder."""
        dll = os.environ.get("VELTRA_CABINET_DLL")
        if not dll:
            self.skipTest("VELTRA_CABINET_DLL not set")
        shutil.copy(dll, self.tmp / "cablib.dll")
        if not mscompress:
            return self.tmp / "cablib.dll"
        subprocess.run(["mscompress", str(self.tmp / "cablib.dll")], check=True,
                       capture_output=True)
        return self.tmp / "cablib.dll_"

    def installed(self):
        return (e2e.prefix_path(self.dest) / "dir" / "file.txt").is_file()

    def test_planted_libraries_beside_setup_are_never_loaded(self):
        setup = self.package()
        marker = self.plant("cabinet.dll", "lz32.dll")
        # Prefer native libraries from the program's folder, as Windows does.
        os.environ["WINEDLLOVERRIDES"] = "cabinet,lz32=n,b"
        # The check is sound: an ordinary search from that folder takes the plant.
        shutil.copy(os.environ["VELTRA_LOADPLAIN"], self.tmp / "loadplain.exe")
        subprocess.run(["wine", str(self.tmp / "loadplain.exe"), "cabinet.dll"],
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
