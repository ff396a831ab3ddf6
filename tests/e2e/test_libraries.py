"""Where the stub takes its cabinet and LZ libraries from: the system folder
only, never a copy planted beside Setup.exe; and the package's own copy in
block 3 when the system has no cabinet library."""
import os
import re
import shutil
import struct
import subprocess
import unittest

import cabfile
import e2e

STAMP = cabfile.dos_stamp(2022, 1, 2, 3, 4, 6)
NO_LIBRARY = "Unable to initialize CABINET.DLL."
UNKNOWN_ERROR = "Setup cannot continue because of the following problem:\r\nUnknown error occurred"


def pe_checksum(image, field):
    """The PE checksum: 16-bit words summed with end-around carry, the field
    itself taken as 0, plus the file's length."""
    data = bytes(image[:field]) + bytes(4) + bytes(image[field + 4:])
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


class LibraryTest(e2e.DestinationTestCase):
    def tearDown(self):
        os.environ.pop("VELTRA_FAULT", None)
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

    def cabinet_library(self, mscompress, dll_variable="VELTRA_CABINET_DLL"):
        """The DLL SZDD-compressed by mscompress, or by the builder's own
        encoder (block 3 of a package that the builder made from a project)."""
        dll = os.environ.get(dll_variable)
        if not dll:
            self.skipTest(dll_variable + " not set")
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

    def library_with_checksum(self, change):
        """The cabinet DLL with its PE checksum set, then `change` applied to
        its bytes, SZDD-compressed by mscompress."""
        dll = os.environ.get("VELTRA_CABINET_DLL")
        if not dll:
            self.skipTest("VELTRA_CABINET_DLL not set")
        image = bytearray(open(dll, "rb").read())
        pe = struct.unpack_from("<I", image, 0x3C)[0]
        field = pe + 24 + 64
        change(image, pe, lambda: struct.pack_into("<I", image, field, pe_checksum(image, field)))
        (self.tmp / "lib.dll").write_bytes(image)
        (self.tmp / "lib.dll_").unlink(missing_ok=True)
        subprocess.run(["mscompress", str(self.tmp / "lib.dll")], check=True, capture_output=True)
        return self.tmp / "lib.dll_"

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

    def test_damaged_or_foreign_package_library_is_never_loaded(self):
        def flip_dos_stub_text(image, pe, write_checksum):
            write_checksum()
            image[0x4E] ^= 0x20  # "This program cannot..." loads as well as ever
        def other_machine(image, pe, write_checksum):
            struct.pack_into("<H", image, pe + 4, 0x8664)
            write_checksum()
        def sound(image, pe, write_checksum):
            write_checksum()
        os.environ["WINEDLLOVERRIDES"] = "cabinet=d"
        for change, usable in ((flip_dos_stub_text, False), (other_machine, False), (sound, True)):
            with self.subTest(change.__name__):
                shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)
                setup = self.package(cablib=self.library_with_checksum(change))
                if usable:
                    self.assertEqual(0, self.finish(self.start(setup)))
                else:
                    self.expect_box_then_exit(setup, "Veltra", NO_LIBRARY, 1)
                self.assertEqual(usable, self.installed())
                self.assertEqual(set(), self.new_work_folders())

    def test_a_fault_inside_the_library_ends_cleanly(self):
        # The information cabinet is copied on the main thread before the
        # script is read (so a box is shown, its caption not yet expanded),
        # the payload on the worker thread of an unattended run (silent).
        setup = self.package(cablib=self.cabinet_library(True, "VELTRA_FAULTING_CABINET"))
        os.environ["WINEDLLOVERRIDES"] = "cabinet=d"
        for fault, box in (("1i", True), ("1a", True), ("2a", False), ("2i", False)):
            with self.subTest(fault):
                os.environ["VELTRA_FAULT"] = fault
                if box:
                    self.expect_box_then_exit(setup, "<APPNAME> Setup", UNKNOWN_ERROR, 1)
                else:
                    with self.running(setup) as process:
                        self.assertEqual(1, self.finish(process))
                self.assertFalse(self.installed())
                self.assertEqual(set(), self.new_work_folders())
        os.environ["VELTRA_FAULT"] = ""
        self.assertEqual(0, self.finish(self.start(setup)))  # the library itself works
        self.assertTrue(self.installed())


if __name__ == "__main__":
    unittest.main(verbosity=2)
