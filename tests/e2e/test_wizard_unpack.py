"""The unpack-options page and the completion page end to end: the two
choices and their folder controls, the fresh "~SSET" folder removed after
the package's program has run, the kept folder, and Finish starting what
the person ticked."""
import pathlib
import tempfile
import time
import unittest

import e2e
from wizardkit import WizardTestCase, build_package, expanded, message, setup_script, snap, wine_dest

RECORDER = e2e.STUB.parent / "veltra-test-recorder.exe"


def temp_folder_windows():
    """The Wine temporary folder as the stub names it, without a backslash."""
    return "C:\\users\\%s\\Temp" % e2e.wine_temp_folder().parent.name


class RecorderMixin:
    """Packages whose programs are copies of the recorder fixture, which
    writes its command line, current folder and own path into a file."""

    def setUp(self):
        super().setUp()
        if not RECORDER.is_file():
            self.skipTest("the recorder fixture is not built: " + str(RECORDER))
        self.record = self.tmp / "record.txt"

    def recorder_env(self):
        return {"VELTRA_RECORD_FILE": wine_dest(self.record)}

    def recorded(self, timeout_s=60):
        """The recorder's lines: command line, current folder, own path."""
        deadline = time.monotonic() + timeout_s
        while not self.record.exists():
            if time.monotonic() > deadline:
                self.fail("the program did not run")
            time.sleep(0.1)
        return self.record.read_text(errors="replace").splitlines()

    def sset_folders(self):
        return {p.name for p in e2e.wine_temp_folder().glob("~SSET*")}


class UnpackOptionsTest(RecorderMixin, WizardTestCase):
    def to_unpack_page(self, script, payload=None):
        setup = build_package(self.tmp, script, payload or {"hello.txt": b"hello\r\n"})
        process = self.run_setup(setup, env=self.recorder_env())
        frame = self.frame()
        self.click(frame, 1)
        return process, frame, self.wait_title(frame, expanded(13))

    def folder_controls(self, frame):
        page = self.page(frame)["controls"]
        return {i: page[i]["enabled"] for i in (60, 51, 1004)}, page

    def test_choices_enable_and_disable_the_folder_controls(self):
        script = setup_script(show_unpack=True, dest="<TEMP>\\VeltraWizardDest")
        process, frame, page = self.to_unpack_page(script)
        controls = page["controls"]
        self.assertEqual((expanded(14), expanded(28), expanded(29), message(30), message(12)),
                         tuple(controls[i]["text"] for i in (101, 204, 205, 51, 1004)))
        self.assertEqual((1, 0), (controls[204]["check"], controls[205]["check"]))
        self.assertEqual(temp_folder_windows() + "\\VeltraWizardDest\\", controls[60]["text"])
        off, on = dict.fromkeys((60, 51, 1004), False), dict.fromkeys((60, 51, 1004), True)
        self.assertEqual(off, self.folder_controls(frame)[0])
        snap("unpack-options")
        for choice, enabled in ((205, on), (204, off), (205, on)):
            self.driver.check(frame, choice)
            self.assertEqual(enabled, self.folder_controls(frame)[0], "after choosing %d" % choice)
        # Back and Next keep the kept choice and the typed folder.
        typed = wine_dest(self.tmp / "typed")
        self.driver.set_text(frame, 60, typed)
        self.click(frame, 1001)
        self.wait_title(frame, expanded(17))
        self.click(frame, 1)
        self.wait_title(frame, expanded(13))
        enabled, controls = self.folder_controls(frame)
        self.assertEqual(on, enabled)
        self.assertEqual((0, 1), (controls[204]["check"], controls[205]["check"]))
        self.assertEqual(typed + "\\", controls[60]["text"])
        self.click(frame, 2)
        self.answer_box("Exit Setup", "Yes")
        self.expect_exit(process, 0)

    def test_temporary_choice_unpacks_into_a_fresh_sset_folder(self):
        # A folder of that name already there is passed over, not reused.
        taken = e2e.wine_temp_folder() / "~SSET1"
        taken.mkdir(exist_ok=True)
        self.addCleanup(lambda: taken.exists() and taken.rmdir())
        before = self.sset_folders()
        fresh = next("~SSET%d" % n for n in range(1, 100) if "~SSET%d" % n not in before)
        script = setup_script(show_unpack=True, dest=wine_dest(self.tmp / "dest"),
                              run="<INSTALL>\\prog.exe", params="--after")
        payload = {"prog.exe": RECORDER.read_bytes(), "hello.txt": b"hello\r\n"}
        process, frame, _ = self.to_unpack_page(script, payload)
        self.click(frame, 1)
        self.expect_exit(process, 0)
        command, _, program = self.recorded()[:3]
        self.assertEqual(temp_folder_windows() + "\\%s\\prog.exe" % fresh, program)
        self.assertTrue(command.endswith(" --after"), command)
        # Removed once the program had ended; the destination never made.
        self.assertEqual(before, self.sset_folders())
        self.assertTrue(taken.is_dir())
        self.assertFalse((self.tmp / "dest").exists())

    def test_kept_choice_unpacks_into_the_typed_folder(self):
        script = setup_script(show_unpack=True, dest=wine_dest(self.tmp / "default"),
                              run="<INSTALL>\\prog.exe")
        payload = {"prog.exe": RECORDER.read_bytes(), "hello.txt": b"hello\r\n"}
        before = self.sset_folders()
        process, frame, _ = self.to_unpack_page(script, payload)
        self.driver.check(frame, 205)
        target = self.tmp / "chosen" / "deeper"
        self.driver.set_text(frame, 60, wine_dest(target))
        self.click(frame, 1)
        self.expect_exit(process, 0)
        self.assertEqual(wine_dest(target / "prog.exe"), self.recorded()[2])
        self.assertEqual(b"hello\r\n", (target / "hello.txt").read_bytes())
        self.assertEqual(before, self.sset_folders())
        self.assertFalse((self.tmp / "default").exists())

    def test_without_the_page_files_go_to_a_temporary_folder(self):
        script = setup_script(show_unpack=False, dest=wine_dest(self.tmp / "dest"),
                              run="<INSTALL>\\prog.exe")
        setup = build_package(self.tmp, script, {"prog.exe": RECORDER.read_bytes()})
        before = self.sset_folders()
        process = self.run_setup(setup, env=self.recorder_env())
        frame = self.frame()
        self.click(frame, 1)  # welcome -> progress: no texts, no options
        self.expect_exit(process, 0)
        self.assertIn("\\~SSET", self.recorded()[2])
        self.assertEqual(before, self.sset_folders())


class CompletionPageTest(RecorderMixin, WizardTestCase):
    def install(self, launch="", readme_file=""):
        dest = pathlib.Path(tempfile.mkdtemp(prefix="dest-", dir=self.tmp))
        script = setup_script(show_unpack=True, dest=wine_dest(dest), launch=launch, readme_file=readme_file)
        payload = {"launch.exe": RECORDER.read_bytes(), "readme.exe": RECORDER.read_bytes()}
        setup = build_package(self.tmp, script, payload)
        process = self.run_setup(setup, env=self.recorder_env())
        frame = self.frame()
        self.click(frame, 1)
        self.wait_title(frame, expanded(13))
        self.driver.check(frame, 205)
        self.click(frame, 1)
        page = self.wait_title(frame, expanded(23))
        return process, frame, page, dest

    def test_finish_starts_what_was_ticked(self):
        both = {"launch": "<INSTALL>\\launch.exe", "readme_file": "<INSTALL>\\readme.exe"}
        for ticked, started in (((204,), "launch.exe"), ((205,), "readme.exe"), ((), None)):
            with self.subTest(ticked=ticked):
                if self.record.exists():
                    self.record.unlink()
                process, frame, page, dest = self.install(**both)
                controls = page["controls"]
                self.assertEqual((expanded(24), expanded(32), expanded(35), message(36)),
                                 tuple(controls[i]["text"] for i in (101, 50, 204, 205)))
                self.assertEqual((0, 0), (controls[204]["check"], controls[205]["check"]))
                self.assertEqual({"back": (message(9), False), "next": (message(11), True),
                                  "cancel": (message(4), False)}, self.buttons(frame))
                snap("completion")
                for box in ticked:
                    self.driver.check(frame, box)
                self.click(frame, 1)
                self.expect_exit(process, 0)
                if started is None:
                    time.sleep(2)
                    self.assertFalse(self.record.exists())
                else:
                    self.assertEqual(wine_dest(dest / started), self.recorded()[2])

    def test_finish_starts_files_from_the_temporary_folder_before_removing_it(self):
        script = setup_script(show_unpack=False, launch="<INSTALL>\\launch.exe")
        setup = build_package(self.tmp, script, {"launch.exe": RECORDER.read_bytes()})
        before = self.sset_folders()
        process = self.run_setup(setup, env=self.recorder_env())
        frame = self.frame()
        self.click(frame, 1)  # welcome -> progress: no texts, no options
        self.wait_title(frame, expanded(23))
        self.driver.check(frame, 204)
        self.click(frame, 1)
        self.expect_exit(process, 0)
        self.assertIn("\\~SSET", self.recorded()[2])
        self.assertEqual(before, self.sset_folders())

    def test_closing_the_completion_page_finishes(self):
        process, frame, _, _ = self.install(readme_file="<INSTALL>\\readme.exe")
        self.driver.close(frame)
        self.expect_exit(process, 0)

    def test_what_the_page_offers_follows_the_settings(self):
        cases = [
            # launch, readme file: body, bottom line, 204 shown, 205 shown
            ("<>", "", 25, 33, False, False),
            ("", "<INSTALL>\\readme.exe", 24, 32, False, True),
            ("<INSTALL>\\launch.exe", "", 24, 32, True, False),
        ]
        for launch, readme_file, body, bottom, first, second in cases:
            with self.subTest(launch=launch, readme_file=readme_file):
                process, frame, page, _ = self.install(launch, readme_file)
                controls = page["controls"]
                self.assertEqual((expanded(body), expanded(bottom)),
                                 (controls[101]["text"], controls[50]["text"]))
                self.assertEqual((first, second), (controls[204]["visible"], controls[205]["visible"]))
                self.click(frame, 1)
                self.expect_exit(process, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
