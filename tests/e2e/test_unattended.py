"""Unattended installs end to end: files, stamps, attributes, placeholders in
stored names, the overwrite policy, the program run afterwards, registry
tokens, the final message and the start-up question."""
import calendar
import os
import shutil
import time
import unittest

import cabfile
import e2e

STAMP = cabfile.dos_stamp(2020, 3, 4, 5, 6, 8)
UNIX_STAMP = calendar.timegm((2020, 3, 4, 5, 6, 8))
ARCHIVE, READ_ONLY, HIDDEN = 0x20, 0x01, 0x02


class UnattendedTest(e2e.E2ETestCase):
    def setUp(self):
        super().setUp()
        self.dest = "C:\\veltra-e2e\\" + self._testMethodName
        shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)

    def tearDown(self):
        target = e2e.prefix_path(self.dest)
        if target.exists():
            os.system("chmod -R u+w '%s'" % target)
            shutil.rmtree(target, ignore_errors=True)
        super().tearDown()

    def install(self, entries, expect=0, **script):
        script.setdefault("dest", self.dest)
        setup = e2e.build_package(self.tmp, e2e.setup_script(**script), entries)
        self.assertEqual(expect, self.finish(self.start(setup)))
        self.assertEqual(set(), self.new_work_folders())
        return setup

    def test_files_land_with_their_folders_stamps_and_attributes(self):
        outside = "veltra-e2e-%d.txt" % os.getpid()
        entries = [
            ("top.txt", b"top\r\n", STAMP, ARCHIVE),
            ("sub\\deeper\\nested.bin", bytes(range(256)) * 300, STAMP, ARCHIVE),
            ("locked.txt", b"read only", STAMP, ARCHIVE | READ_ONLY),
            ("secret.txt", b"hidden", STAMP, ARCHIVE | HIDDEN),
            ("<WIN>\\" + outside, b"placed by token", STAMP, ARCHIVE),
        ]
        try:
            self.install(entries)
            root = e2e.prefix_path(self.dest)
            for name, content, _, _ in entries[:4]:
                path = root / name.replace("\\", "/")
                self.assertEqual(content, path.read_bytes(), name)
                self.assertEqual(UNIX_STAMP, int(path.stat().st_mtime), name)
            outside_path = e2e.PREFIX / "drive_c" / "windows" / outside
            self.assertEqual(b"placed by token", outside_path.read_bytes())
            self.assertFalse((root / "<WIN>").exists())
            self.assertIn("R", e2e.dos_attributes(self.dest + "\\locked.txt"))
            self.assertIn("H", e2e.dos_attributes(self.dest + "\\secret.txt"))
            self.assertNotIn("R", e2e.dos_attributes(self.dest + "\\top.txt"))
        finally:
            (e2e.PREFIX / "drive_c" / "windows" / outside).unlink(missing_ok=True)

    def test_overwrite_policy_for_an_existing_read_only_file(self):
        entries = [("existing.txt", b"new", STAMP, ARCHIVE)]
        for mode, expected in ((1, b"new"), (2, b"old"), (3, b"old"), (0, b"old")):
            with self.subTest(overwrite_mode=mode):
                target = e2e.prefix_path(self.dest) / "existing.txt"
                target.parent.mkdir(parents=True, exist_ok=True)
                if target.exists():
                    target.chmod(0o644)
                target.write_bytes(b"old")
                target.chmod(0o444)  # read-only to Windows
                # Mode 0 would ask; unattended, nobody is asked and the file stays.
                self.install(entries, overwrite=mode)
                self.assertEqual(expected, target.read_bytes())

    def test_program_runs_with_expanded_placeholders_and_is_waited_for(self):
        recorder = os.environ.get("VELTRA_RECORDER")
        if not recorder:
            self.skipTest("VELTRA_RECORDER not set")
        shutil.copy(recorder, self.tmp / "recorder.exe")
        record = self.tmp / "record.txt"
        os.environ["VELTRA_RECORD_FILE"] = e2e.wine_path(record)
        os.environ["VELTRA_RECORD_DELAY"] = "2000"
        try:
            self.install([("payload.txt", b"x", STAMP, ARCHIVE)], app="Recorded App",
                         run="<SRC>recorder.exe", params="<APPNAME> <INSTALL>\\payload.txt")
        finally:
            del os.environ["VELTRA_RECORD_FILE"], os.environ["VELTRA_RECORD_DELAY"]
        # The record is written two seconds after the start: it exists only
        # because the stub waited for the program.
        lines = record.read_text(encoding="latin-1").splitlines()
        # The program's path is quoted, the parameters are as the package wrote them.
        expected = '"%s\\recorder.exe" Recorded App %s\\payload.txt' % (e2e.wine_path(self.tmp), self.dest)
        self.assertEqual(expected, lines[0])
        self.assertTrue((e2e.prefix_path(self.dest) / "payload.txt").exists())

    def test_registry_tokens_in_the_destination(self):
        key = "HKCU\\Software\\VeltraE2E"
        e2e.wine("reg", "add", key, "/v", "Dest", "/t", "REG_SZ", "/d", self.dest + "\\fromreg", "/f")
        try:
            self.install([("a.txt", b"a", STAMP, ARCHIVE)], dest="<REG:%s\\Dest>" % key)
            self.assertTrue((e2e.prefix_path(self.dest) / "fromreg" / "a.txt").exists())
            self.install([("b.txt", b"b", STAMP, ARCHIVE)],
                         dest=self.dest + "\\x<REG:%s\\Missing>y" % key)
            self.assertTrue((e2e.prefix_path(self.dest) / "xy" / "b.txt").exists())
        finally:
            e2e.wine("reg", "delete", key, "/f", check=False)

    def test_final_message_is_shown_after_the_run(self):
        setup = e2e.build_package(self.tmp, e2e.setup_script(
            app="Finisher", dest=self.dest, final="All done for <APPNAME>.<br/>Enjoy."),
            [("f.txt", b"f", STAMP, ARCHIVE)])
        with self.running(setup) as process:
            box = self.driver.message_box("Finisher Setup")
            self.assertEqual("All done for Finisher.\r\nEnjoy.", box["text"])
            self.assertEqual("asterisk", box["icon"])  # the information icon
            # The files are in place before the message comes.
            self.assertTrue((e2e.prefix_path(self.dest) / "f.txt").exists())
            self.driver.click(box, "OK")
            self.assertEqual(0, self.finish(process))
        self.assertEqual(set(), self.new_work_folders())

    def test_start_question_cancel_ends_with_2_and_ok_installs(self):
        script = e2e.setup_script(app="Asker", dest=self.dest, question="Install <APPNAME>?")
        setup = e2e.build_package(self.tmp, script, [("q.txt", b"q", STAMP, ARCHIVE)])
        for answer, code in (("Cancel", 2), ("OK", 0)):
            with self.subTest(answer=answer):
                with self.running(setup) as process:
                    box = self.driver.message_box("Asker Setup")
                    self.assertEqual("Install Asker?", box["text"])
                    self.driver.click(box, answer)
                    self.assertEqual(code, self.finish(process))
                self.assertEqual(code == 0, (e2e.prefix_path(self.dest) / "q.txt").exists())
                self.assertEqual(set(), self.new_work_folders())

    def test_unreadable_setup_script_ends_with_4(self):
        script = e2e.setup_script(dest=self.dest)
        broken = script[:script.index(b"\x01\x01\x01")]  # ends before the readme terminator
        setup = e2e.build_package(self.tmp, broken, [("x.txt", b"x", STAMP, ARCHIVE)])
        box = self.expect_box_then_exit(setup, "", "Unable to read info", 4)
        self.assertIsNone(box["icon"])
        self.assertEqual(set(), self.new_work_folders())

    def test_names_that_climb_out_of_their_folder_end_with_1_and_land_nowhere(self):
        outside = e2e.prefix_path("C:\\veltra-e2e\\climbed-%d.txt" % os.getpid())
        for name in ("..\\climbed-%d.txt" % os.getpid(), "sub/../../climbed-%d.txt" % os.getpid()):
            with self.subTest(name):
                setup = e2e.build_package(self.tmp, e2e.setup_script(dest=self.dest),
                                          [("a.txt", b"a", STAMP, ARCHIVE), (name, b"evil", STAMP, ARCHIVE)])
                self.assertEqual(1, self.finish(self.start(setup)))
                self.assertFalse(outside.exists(), "a file landed outside the destination")
                self.assertEqual(set(), self.new_work_folders())

    def test_damaged_payload_ends_silently_with_2(self):
        setup = e2e.build_package(self.tmp, e2e.setup_script(dest=self.dest),
                                  [("x.txt", b"x", STAMP, ARCHIVE)])
        data = bytearray(setup.read_bytes())
        data[data.rindex(b"MSCF")] = ord("X")  # the payload is the last cabinet
        setup.write_bytes(bytes(data))
        self.assertEqual(2, self.finish(self.start(setup)))
        self.assertFalse(e2e.prefix_path(self.dest).exists())
        self.assertEqual(set(), self.new_work_folders())


if __name__ == "__main__":
    unittest.main(verbosity=2)
