"""The administrator's switches on Setup.exe's command line, end to end on the
built stub: quiet runs that show no window at all, the destination from the
command line, extracting without running anything, and the usage box for /?,
unknown switches and folders that name no folder by themselves. A run without
any switch is what the other end-to-end tests run."""
import shutil
import time
import unittest

import cabfile
import e2e
import faults
import wizardkit
from e2e import driver

STAMP = cabfile.dos_stamp(2023, 5, 6, 7, 8, 10)
SCRIPT_DEST = "C:\\veltra-e2e\\switches-script"
OTHER_DEST = "C:\\veltra-e2e\\switches other"  # a blank, so the argument travels quoted
USAGE_START = "Setup.exe [/quiet] [/D=folder] [/extract=folder] [/log=file] [/password-file=file] [/?]"
BAD_SWITCH, FAILED, STOPPED = 87, 1, 2
FILES = {"app.txt": b"app\r\n", "sub\\data.bin": bytes(range(256)) * 40}
QUIET_TIMEOUT_S = 120


def entries(with_tool):
    listed = [(name, data, STAMP, 0x20) for name, data in FILES.items()]
    if with_tool:
        listed.append(("tool.exe", faults.EXITWITH.read_bytes(), STAMP, 0x20))
    return listed


# A package that would ask, say and run something when started without switches.
TALKATIVE = dict(unattended=False, question="Install the demo?", final="All done.",
                 run="<INSTALL>\\tool.exe", params="7")


class SwitchesTest(e2e.E2ETestCase):
    def setUp(self):
        super().setUp()
        if not faults.EXITWITH.is_file():
            self.skipTest("VELTRA_EXITWITH must name the built fixture")
        for folder in (SCRIPT_DEST, OTHER_DEST):
            shutil.rmtree(e2e.prefix_path(folder), ignore_errors=True)

    def tearDown(self):
        for folder in (SCRIPT_DEST, OTHER_DEST):
            shutil.rmtree(e2e.prefix_path(folder), ignore_errors=True)
        super().tearDown()

    def package(self, password=None, **script):
        script.setdefault("dest", SCRIPT_DEST)
        with_tool = script.get("run", "") != ""
        return e2e.build_package(self.tmp, e2e.setup_script(**script), entries(with_tool), password=password)

    def shown_windows(self):
        return {w["hwnd"]: "%s %r" % (w.get("class"), w.get("caption")) for w in self.driver.windows()}

    def run_watched(self, setup, args):
        """Runs the package with `args` to its end and returns its exit code and
        every window that appeared meanwhile."""
        before = self.shown_windows()
        appeared = {}
        process = driver.launch(str(setup), *args)
        try:
            deadline = time.monotonic() + QUIET_TIMEOUT_S
            while process.poll() is None and time.monotonic() < deadline:
                appeared.update({h: d for h, d in self.shown_windows().items() if h not in before})
                time.sleep(0.2)
            self.assertIsNotNone(process.poll(), "still running; windows: %s" % appeared)
            return process.returncode, sorted(appeared.values())
        finally:
            e2e.stop_process(process)

    def files_under(self, folder):
        root = e2e.prefix_path(folder)
        return {str(p.relative_to(root)).replace("/", "\\") for p in root.rglob("*") if p.is_file()}

    def test_runs_without_any_window(self):
        expected_files = set(FILES)
        with_tool = expected_files | {"tool.exe", "tool.exe.ran"}
        cases = [
            # name, script fields, password, args, exit code, files in SCRIPT_DEST, files in OTHER_DEST
            ("quiet skips the question and the final message, runs the program",
             TALKATIVE, None, ["/quiet"], 7, with_tool, set()),
            ("/Q in capitals", dict(TALKATIVE, run=""), None, ["/Q"], 0, expected_files, set()),
            ("the destination from the command line, with a blank",
             TALKATIVE, None, ["/q", "/D=" + OTHER_DEST], 7, set(), with_tool),
            ("a destination switch alone on an unattended package",
             {}, None, ["/d:" + OTHER_DEST], 0, set(), expected_files),
            ("extract only: the files, no question, no program, no message",
             TALKATIVE, None, ["/extract=" + OTHER_DEST], 0, set(), expected_files | {"tool.exe"}),
            ("extract only wins over a destination",
             TALKATIVE, None, ["/D=" + SCRIPT_DEST, "/extract=" + OTHER_DEST, "/quiet"], 0, set(),
             expected_files | {"tool.exe"}),
            ("a relative destination switch is refused before anything is written",
             TALKATIVE, None, ["/quiet", "/D=apps"], FAILED, set(), set()),
            ("a relative destination in the script, quiet",
             dict(TALKATIVE, dest="apps"), None, ["/quiet"], FAILED, set(), set()),
            ("a protected package cannot ask for its password when quiet",
             TALKATIVE, "secret", ["/quiet"], STOPPED, set(), set()),
            ("an unknown switch with quiet shows no usage",
             TALKATIVE, None, ["/bogus", "/quiet"], BAD_SWITCH, set(), set()),
        ]
        for name, script, password, args, code, in_script_dest, in_other in cases:
            with self.subTest(name):
                for folder in (SCRIPT_DEST, OTHER_DEST):
                    shutil.rmtree(e2e.prefix_path(folder), ignore_errors=True)
                setup = self.package(password=password, **script)
                self.assertEqual((code, []), self.run_watched(setup, args))
                self.assertEqual(in_script_dest, self.files_under(SCRIPT_DEST))
                self.assertEqual(in_other, self.files_under(OTHER_DEST))
                self.assertEqual(set(), self.new_work_folders())

    def test_log_holds_every_file_and_the_exit_code(self):
        log = self.tmp / "setup.log"
        cases = [
            # name, script fields, password, args, lines the log must hold
            ("a quiet run with its program", TALKATIVE, None, ["/quiet"],
             ["File: " + SCRIPT_DEST + "\\app.txt", "File: " + SCRIPT_DEST + "\\sub\\data.bin",
              "Extracting into " + SCRIPT_DEST + "\\", "The program ended with 7", "Exit code: 7"]),
            ("a protected package, quiet", TALKATIVE, "secret", ["/q"],
             ["Failure: the package has a password, and a quiet run cannot ask for it", "Exit code: 2"]),
            ("a relative destination", TALKATIVE, None, ["/quiet", "/D=apps"],
             ["Failure: a folder on the command line is not a full path", "Exit code: 1"]),
        ]
        for name, script, password, args, expected in cases:
            with self.subTest(name):
                shutil.rmtree(e2e.prefix_path(SCRIPT_DEST), ignore_errors=True)
                log.unlink(missing_ok=True)
                setup = self.package(password=password, **script)
                code, shown = self.run_watched(setup, args + ["/log=" + e2e.wine_path(log)])
                self.assertEqual([], shown)
                lines = log.read_bytes().decode("latin-1").split("\r\n")
                self.assertTrue(lines[0].startswith("Command line: "), lines)
                self.assertEqual("", lines[-1], "every line ends with CR LF")
                for line in expected:
                    self.assertIn(line, lines)
                self.assertEqual(expected[-1], lines[-2], "the exit code comes last")
                self.assertEqual(int(expected[-1].split()[-1]), code)

    def test_password_file(self):
        right, wrong, absent = self.tmp / "right.txt", self.tmp / "wrong.txt", self.tmp / "absent.txt"
        right.write_bytes(b"s3cret word\r\nnot part of it\r\n")
        wrong.write_bytes(b"s3cret\r\n")
        cases = [
            ("the right password, quiet", right, 7, FILES.keys() | {"tool.exe", "tool.exe.ran"}),
            ("a wrong password", wrong, STOPPED, set()),
            ("a password file that is not there", absent, FAILED, set()),
        ]
        for name, path, code, files in cases:
            with self.subTest(name):
                shutil.rmtree(e2e.prefix_path(SCRIPT_DEST), ignore_errors=True)
                setup = self.package(password="s3cret word", **TALKATIVE)
                args = ["/quiet", "/password-file=" + e2e.wine_path(path)]
                self.assertEqual((code, []), self.run_watched(setup, args))
                self.assertEqual(set(files), self.files_under(SCRIPT_DEST))
                self.assertEqual(set(), self.new_work_folders())

    def test_usage_box(self):
        cases = [
            ("/? shows the usage and ends well", ["/?"], 0),
            ("an unknown switch", ["/bogus"], BAD_SWITCH),
            ("a bare word", ["C:\\apps"], BAD_SWITCH),
            ("a destination switch without its folder", ["/D="], BAD_SWITCH),
            ("a relative extract folder", ["/extract=apps"], FAILED),
            ("a log switch without its file", ["/log"], BAD_SWITCH),
            ("a password file switch without its file", ["/password-file="], BAD_SWITCH),
        ]
        setup = self.package(**TALKATIVE)
        for name, args, code in cases:
            with self.subTest(name):
                process = driver.launch(str(setup), *args)
                try:
                    box = self.driver.message_box("Veltra")
                    self.assertTrue(box["text"].startswith(USAGE_START), box["text"])
                    self.assertIn("/extract=folder", box["text"])
                    self.driver.click(box, "OK")
                    self.assertEqual(code, self.finish(process))
                finally:
                    e2e.stop_process(process)
                self.assertEqual(set(), self.files_under(SCRIPT_DEST))
                self.assertEqual(set(), self.new_work_folders())


class WizardDestinationTest(wizardkit.WizardTestCase):
    def test_destination_switch_is_the_folder_the_wizard_proposes(self):
        script = wizardkit.setup_script(show_unpack=True, dest=SCRIPT_DEST)
        setup = wizardkit.build_package(self.tmp, script, {"hello.txt": b"hello\r\n"})
        process = driver.launch(str(setup), "/D=" + OTHER_DEST)
        self.addCleanup(e2e.stop_process, process)
        frame = self.frame()
        self.click(frame, 1)
        page = self.wait_title(frame, wizardkit.expanded(13))
        self.assertEqual(OTHER_DEST + "\\", page["controls"][60]["text"])
        self.click(frame, 2)
        self.answer_box("Exit Setup", "Yes")
        self.expect_exit(process, 0)


if __name__ == "__main__":
    unittest.main()
