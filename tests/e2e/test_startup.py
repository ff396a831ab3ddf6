"""Start-up of the stub end to end: finding the package at PackageBase, the
private work folder, the language text, and leaving nothing behind."""
import shutil
import struct
import subprocess
import unittest

import e2e

NO_PACKAGE = "No data is associated with this Package."
NO_LANGUAGE = "No localization data could be loaded."
NO_TEMP = "Unable to create temporary folder."


class StartupTest(e2e.E2ETestCase):
    def build(self, lang=None):
        info = e2e.make_cabinet(self.tmp, {"~DAT1.": e2e.setup_script(dest="C:\\veltra-e2e\\startup")})
        payload = e2e.make_cabinet(self.tmp, {"readme.txt": b"hello\r\n"})
        return e2e.pack_assemble(self.tmp / "Setup.exe", info, payload, lang=lang)

    def test_package_base_is_the_stub_length(self):
        data = self.build().read_bytes()
        base = struct.unpack_from("<i", data, e2e.package_base_field(data))[0]
        self.assertEqual(e2e.STUB.stat().st_size, base)
        self.assertEqual(b"$VELTRA$", data[base:base + 8])
        # The stub as built holds 0 there, and the builder refuses a packed file as stub.
        stub = e2e.STUB.read_bytes()
        self.assertEqual(0, struct.unpack_from("<i", stub, e2e.package_base_field(stub))[0])
        again = subprocess.run([str(e2e.PACK), "assemble", "--stub", str(self.tmp / "Setup.exe"),
                                "--info", str(self.tmp / "Setup.exe"), "--payload",
                                str(self.tmp / "Setup.exe"), "--out", str(self.tmp / "x.exe")],
                               capture_output=True, text=True)
        self.assertNotEqual(0, again.returncode)
        self.assertIn("already carries a package", again.stderr)
        self.assertFalse((self.tmp / "x.exe").exists())

    def test_complete_package_runs_and_removes_its_work_folder(self):
        process = self.start(self.build())
        self.assertEqual(0, self.finish(process))
        self.assertEqual(set(), self.new_work_folders())

    def test_wrong_package_base_shows_no_data_and_makes_no_folder(self):
        setup = self.build()
        data = bytearray(setup.read_bytes())
        field = e2e.package_base_field(data)
        for wrong in (struct.unpack_from("<i", data, field)[0] + 1, 0, -5, 0x7FFFFFF0):
            with self.subTest(package_base=wrong):
                struct.pack_into("<i", data, field, wrong)
                setup.write_bytes(bytes(data))
                box = self.expect_box_then_exit(setup, "Veltra", NO_PACKAGE, 1)
                self.assertEqual("exclamation", box["icon"])
                self.assertEqual(set(), self.new_work_folders())

    def test_header_sizes_that_do_not_describe_the_file_show_no_data_and_make_no_folder(self):
        setup = self.build()
        data = bytes(setup.read_bytes())
        base = struct.unpack_from("<i", data, e2e.package_base_field(data))[0]
        lang, cablib, info = (struct.unpack_from("<i", data, base + at)[0] for at in (8, 16, 20))
        rest = len(data) - base - 33
        cases = {  # field offset in the header, value, the box
            "information cabinet of size 0": (20, 0, NO_PACKAGE),
            "information cabinet past the end": (20, rest, NO_PACKAGE),
            "negative information cabinet": (20, -1, NO_PACKAGE),
            "huge cabinet library": (16, 0x7FFFFFF0, NO_PACKAGE),
            "negative cabinet library": (16, -36, NO_PACKAGE),
            "language text over the cabinets": (8, lang + cablib + info, NO_PACKAGE),
            "language text of size 0": (8, 0, NO_LANGUAGE),
        }
        for name, (at, value, says) in cases.items():
            with self.subTest(name):
                damaged = bytearray(data)
                struct.pack_into("<i", damaged, base + at, value)
                setup.write_bytes(bytes(damaged))
                self.expect_box_then_exit(setup, "Veltra", says, 1)
                self.assertEqual(set(), self.new_work_folders())
                self.assertFalse((e2e.prefix_path("C:\\veltra-e2e\\startup") / "~DAT1.").exists())

    def test_language_text_that_fails_to_load_is_reported_and_cleaned_up(self):
        lines = e2e.default_lang_lines()
        self.assertEqual(82, len(lines))
        cases = {
            "no end marker": b"\r\n".join(lines) + b"\r\n",
            "marker with more after it": b"\r\n".join(lines) + b"\r\n\x01more\r\n",
        }
        for name, text in cases.items():
            with self.subTest(name):
                lang = self.tmp / "lang.txt"
                lang.write_bytes(text)
                # The builder checks language texts, so the bad block goes in by hand.
                setup = self.build()
                data = bytearray(setup.read_bytes())
                base = struct.unpack_from("<i", data, e2e.package_base_field(data))[0]
                size = struct.unpack_from("<i", data, base + 8)[0]
                data[base + 33:base + 33 + size] = text
                struct.pack_into("<i", data, base + 8, len(text))
                setup.write_bytes(bytes(data))
                self.expect_box_then_exit(setup, "Veltra", NO_LANGUAGE, 1)
                self.assertEqual(set(), self.new_work_folders())

    def test_block_lengths_beyond_the_file_fail_cleanly(self):
        setup = self.build()
        data = bytearray(setup.read_bytes())
        base = struct.unpack_from("<i", data, e2e.package_base_field(data))[0]
        struct.pack_into("<i", data, base + 8, 0x7FFF0000)  # LangTextSize far past the end
        setup.write_bytes(bytes(data))
        self.expect_box_then_exit(setup, "Veltra", NO_LANGUAGE, 1)
        self.assertEqual(set(), self.new_work_folders())

    def test_information_cabinet_under_another_key_reads_as_wrong_password(self):
        # Scrambled with a password, but the header says there is none: the
        # stub descrambles with the prefix alone and finds no cabinet.
        info = e2e.make_cabinet(self.tmp, {"~DAT1.": e2e.setup_script()})
        payload = e2e.make_cabinet(self.tmp, {"a.txt": b"a"})
        setup = e2e.pack_assemble(self.tmp / "Setup.exe", info, payload, password="secret")
        data = bytearray(setup.read_bytes())
        base = struct.unpack_from("<i", data, e2e.package_base_field(data))[0]
        data[base + 28] = 0
        setup.write_bytes(bytes(data))
        message_63 = ("Unable to open the Package with this Password. Your Password may be "
                      "wrong or the Package may have been damaged.")
        box = self.expect_box_then_exit(setup, "Error", message_63, 2)
        self.assertEqual("hand", box["icon"])
        self.assertEqual(set(), self.new_work_folders())

    def test_information_cabinet_that_cannot_be_extracted_shows_the_raw_caption(self):
        # A sound cabinet header over damaged data: recognised, then failing
        # during extraction, before the caption is expanded.
        info = e2e.make_cabinet(self.tmp, {"~DAT1.": e2e.setup_script() * 2000})
        data = bytearray(info.read_bytes())
        half = len(data) // 2
        data[half:] = bytes(len(data) - half)
        info.write_bytes(bytes(data))
        payload = e2e.make_cabinet(self.tmp, {"a.txt": b"a"})
        setup = e2e.pack_assemble(self.tmp / "Setup.exe", info, payload)
        with self.running(setup) as process:
            box = self.driver.message_box("<APPNAME> Setup")
            self.assertTrue(box["text"].startswith(
                "Setup cannot continue because of the following problem:\r\n"), box["text"])
            self.assertEqual("hand", box["icon"])
            self.driver.click(box, "OK")
            self.assertEqual(1, self.finish(process))
        self.assertEqual(set(), self.new_work_folders())

    def test_unusable_temporary_folder_stops_with_a_message(self):
        # A path below a file, where no VELTRA folder can be made, and a path
        # too long to be read at all: nothing may be made anywhere else.
        temp = e2e.wine_temp_folder()
        blocker = temp / "veltra-blocker"
        blocker.write_bytes(b"")
        windows_temp = "C:\\users\\%s\\Temp\\" % temp.parent.name
        long_folder = temp / ("a" * 200) / ("b" * 200)
        long_folder.mkdir(parents=True, exist_ok=True)
        saved = e2e.user_environment()
        try:
            for name, path in (("below a file", windows_temp + "veltra-blocker\\sub"),
                               ("too long", windows_temp + "a" * 200 + "\\" + "b" * 200)):
                with self.subTest(name):
                    e2e.set_user_environment({"TMP": ("REG_SZ", path), "TEMP": ("REG_SZ", path)})
                    setup = self.build()
                    self.expect_box_then_exit(setup, "Veltra", NO_TEMP, 1)
                    self.assertEqual([], list(long_folder.iterdir()))
        finally:
            e2e.set_user_environment({name: saved.get(name) for name in ("TMP", "TEMP")})
            blocker.unlink()
            shutil.rmtree(temp / ("a" * 200))

if __name__ == "__main__":
    unittest.main(verbosity=2)
