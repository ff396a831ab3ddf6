"""The administrator's switches on Setup.exe's command line, end to end on the
built stub: quiet runs that show no window at all, passive runs that show the
progress alone, the destination from the command line, extracting without
running anything, the log of a run, and the usage box for /?, unknown switches
and folders that name no folder by themselves. A run without any switch is
what the other end-to-end tests run."""
import contextlib
import os
import pathlib
import re
import shutil
import struct
import subprocess
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
USAGE_START = "Setup.exe [/quiet | /passive] [/D=folder] [/extract=folder] [/log=file] [/password-file=file] [/?]"
BAD_SWITCH, FAILED, STOPPED = 87, 1, 2
FILES = {"app.txt": b"app\r\n", "sub\\data.bin": bytes(range(256)) * 40}
QUIET_TIMEOUT_S = 120


def entries(with_tool, big=0):
    """The payload: FILES, the exit-code tool, and first of all `big` bytes of
    zeros (a file that takes a while to write) when asked for."""
    listed = [("big.bin", bytes(big), STAMP, 0x20)] if big else []
    listed += [(name, data, STAMP, 0x20) for name, data in FILES.items()]
    if with_tool:
        listed.append(("tool.exe", faults.EXITWITH.read_bytes(), STAMP, 0x20))
    return listed


# A package that would ask, say and run something when started without switches.
TALKATIVE = dict(unattended=False, question="Install the demo?", final="All done.",
                 run="<INSTALL>\\tool.exe", params="7")


class WatchedRuns:
    """Mixed into an E2ETestCase: the two destinations emptied around each
    test, and runs watched for every window they show."""

    def setUp(self):
        super().setUp()
        if not faults.EXITWITH.is_file():
            self.skipTest("VELTRA_EXITWITH must name the built fixture")
        self.empty_destinations()

    def tearDown(self):
        self.empty_destinations()
        super().tearDown()

    def empty_destinations(self):
        for folder in (SCRIPT_DEST, OTHER_DEST):
            shutil.rmtree(e2e.prefix_path(folder), ignore_errors=True)

    def shown_windows(self):
        return {w["hwnd"]: "%s %r" % (w.get("class"), w.get("caption")) for w in self.driver.windows()}

    def run_watched(self, setup, args, on_poll=None):
        """Runs the package with `args` to its end and returns its exit code and
        every window that appeared meanwhile; `on_poll(windows)` sees each look."""
        before = self.shown_windows()
        appeared = {}
        process = driver.launch(str(setup), *args)
        try:
            deadline = time.monotonic() + QUIET_TIMEOUT_S
            while process.poll() is None and time.monotonic() < deadline:
                now = self.shown_windows()
                appeared.update({h: d for h, d in now.items() if h not in before})
                if on_poll:
                    on_poll({h: d for h, d in now.items() if h not in before})
                time.sleep(0.2)
            self.assertIsNotNone(process.poll(), "still running; windows: %s" % appeared)
            return process.returncode, sorted(appeared.values())
        finally:
            e2e.stop_process(process)

    def files_under(self, folder):
        root = e2e.prefix_path(folder)
        return {str(p.relative_to(root)).replace("/", "\\") for p in root.rglob("*") if p.is_file()}


# The lines that trace start-up in a log; the first three carry what varies.
STEP_PREFIXES = ("Command line:", "Package found at byte ", "Private folder made:", "Language text loaded",
                 "Cabinet library loaded: ", "Information cabinet read", "Run mode: ", "Failure: ", "Exit code: ")


def start_up_steps(lines):
    """The log's start-up lines in order, the command line and the private
    folder without their texts."""
    steps = []
    for line in lines:
        prefix = next((p for p in STEP_PREFIXES if line.startswith(p)), None)
        if prefix is not None:
            steps.append(prefix if prefix in ("Command line:", "Private folder made:") else line)
    return steps


def package_base(value):
    def damage(data, base):
        struct.pack_into("<i", data, e2e.package_base_field(data), value)
    return damage


def header_field(offset, value):
    def damage(data, base):
        struct.pack_into("<i", data, base + offset, value)
    return damage


def flip_info_cabinet(data, base):
    """The information cabinet's first bytes inverted: no cabinet any more."""
    lang, cablib = struct.unpack_from("<i", data, base + 8)[0], struct.unpack_from("<i", data, base + 16)[0]
    start = base + 33 + lang + cablib
    data[start:start + 8] = bytes(b ^ 0xFF for b in data[start:start + 8])


def restore_variable(name, value):
    if value is None:
        os.environ.pop(name, None)
    else:
        os.environ[name] = value


class SwitchesTest(WatchedRuns, e2e.E2ETestCase):
    def package(self, password=None, **script):
        script.setdefault("dest", SCRIPT_DEST)
        with_tool = script.get("run", "") != ""
        return e2e.build_package(self.tmp, e2e.setup_script(**script), entries(with_tool), password=password)

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
             ["Failure: the package has a password, and a quiet or passive run cannot ask for it",
              "Exit code: 2"]),
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

    def log_package(self, info_files, cablib=None):
        """Setup.exe (unattended, into SCRIPT_DEST) with `info_files` in the
        information cabinet and, when given, block 3 from `cablib`."""
        info = cabfile.write_cabinet(self.tmp / "info.cab",
                                     [(name, data, STAMP, 0x20) for name, data in info_files.items()])
        payload = cabfile.write_cabinet(self.tmp / "payload.cab", entries(False))
        out = self.tmp / "Setup.exe"
        args = [str(e2e.PACK), "assemble", "--stub", str(e2e.STUB), "--info", str(info),
                "--payload", str(payload), "--out", str(out)]
        if cablib is not None:
            args += ["--cablib", str(cablib)]
        subprocess.run(args, check=True)
        return out

    def compressed_cabinet_library(self):
        dll = os.environ.get("VELTRA_CABINET_DLL")
        if not dll:
            self.skipTest("VELTRA_CABINET_DLL must name the built library")
        shutil.copy(dll, self.tmp / "cablib.dll")
        subprocess.run(["mscompress", str(self.tmp / "cablib.dll")], check=True, capture_output=True)
        return self.tmp / "cablib.dll_"

    def test_log_shows_how_far_start_up_came(self):
        log = self.tmp / "setup.log"
        script = {"~DAT1.": e2e.setup_script(dest=SCRIPT_DEST)}
        steps = ["Command line:", "Package found at byte %d" % e2e.STUB.stat().st_size, "Private folder made:",
                 "Language text loaded", "Cabinet library loaded: the system's", "Information cabinet read"]
        own_library = steps[:4] + ["Cabinet library loaded: the package's own", steps[5]]
        cases = [
            # name, information cabinet, block 3, damage, WINEDLLOVERRIDES, args, the log's steps
            ("a whole package", script, False, None, None, ["/quiet"],
             steps + ["Run mode: quiet", "Exit code: 0"]),
            ("the package's own cabinet library, passive, files only", script, True, None, "cabinet=d",
             ["/passive", "/extract=" + OTHER_DEST],
             own_library + ["Run mode: passive, files only", "Exit code: 0"]),
            ("no package where the stub says", script, False, package_base(0), None, ["/quiet"],
             steps[:1] + ["Failure: No data is associated with this Package.", "Exit code: 1"]),
            ("an empty language text", script, False, header_field(8, 0), None, ["/quiet"],
             steps[:3] + ["Failure: No localization data could be loaded.", "Exit code: 1"]),
            ("no cabinet library at all", script, False, None, "cabinet=d", ["/passive"],
             steps[:4] + ["Failure: no cabinet library could be loaded", "Exit code: 1"]),
            ("a damaged information cabinet", script, False, flip_info_cabinet, None, ["/quiet"],
             steps[:5] + ["Failure: the information cabinet was not recognised (wrong password or damaged "
                          "package)", "Exit code: 2"]),
            ("no setup script in the information cabinet", {"other.txt": b"x"}, False, None, None, ["/quiet"],
             steps + ["Failure: the setup script could not be read", "Exit code: 4"]),
        ]
        saved = os.environ.get("WINEDLLOVERRIDES")
        self.addCleanup(restore_variable, "WINEDLLOVERRIDES", saved)
        for name, info_files, own, damage, overrides, args, expected in cases:
            with self.subTest(name):
                self.empty_destinations()
                log.unlink(missing_ok=True)
                setup = self.log_package(info_files, self.compressed_cabinet_library() if own else None)
                if damage:
                    data = bytearray(setup.read_bytes())
                    damage(data, struct.unpack_from("<i", data, e2e.package_base_field(data))[0])
                    setup.write_bytes(bytes(data))
                restore_variable("WINEDLLOVERRIDES", overrides)
                code, _ = self.run_watched(setup, args + ["/log=" + e2e.wine_path(log)])
                restore_variable("WINEDLLOVERRIDES", saved)
                lines = log.read_bytes().decode("latin-1").split("\r\n")
                folders = [line for line in lines if line.startswith("Private folder made:")]
                for line in folders:
                    self.assertRegex(line, r"^Private folder made: [A-Z]:\\.*\\VELTRA[^\\]*\\$")
                self.assertEqual(expected, start_up_steps(lines))
                self.assertEqual(int(expected[-1].split()[-1]), code)
                self.assertEqual(set(), self.new_work_folders())

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


# A wizard package with everything a person would click through or read: the
# start-up question, licence, readme, unpack options, the completion page
# with a file to open, and the final message; the program ends with 7.
PAGES = dict(dest=SCRIPT_DEST, show_unpack=True, question="Install the demo?", final="All done.",
             licence=["Terms of use"], readme=["Read me first"], launch="<INSTALL>\\app.txt",
             run="<INSTALL>\\tool.exe", params="7")
WITH_TOOL = set(FILES) | {"tool.exe", "tool.exe.ran"}
BIG = 160 * 1024 * 1024  # zeros: a small package that takes a while to write


class PassiveTest(WatchedRuns, wizardkit.WizardTestCase):
    def package(self, big=0, password=None, **fields):
        fields = dict(PAGES, **fields)
        script = wizardkit.setup_script(min_free=big, **fields)
        return e2e.build_package(self.tmp, script, entries(fields["run"] != "", big), password=password)

    def test_shows_only_the_progress_and_ends_without_a_click(self):
        process = driver.launch(str(self.package(big=BIG)), "/passive")
        self.addCleanup(e2e.stop_process, process)
        frame = self.frame()
        page = self.wait_title(frame, wizardkit.expanded(15))
        self.assertEqual((wizardkit.expanded(16), wizardkit.message(31)),
                         (page["controls"][101]["text"], page["controls"][50]["text"]))
        self.assertEqual((0, 32767), (page["controls"][70]["min"], page["controls"][70]["max"]))
        self.assertEqual({"back": (wizardkit.message(9), False), "next": (wizardkit.message(10), False),
                          "cancel": (wizardkit.message(4), True)}, self.buttons(frame))
        # The completion page would wait for Finish, the final message for OK.
        self.expect_exit(process, 7)
        self.assertEqual(WITH_TOOL | {"big.bin"}, self.files_under(SCRIPT_DEST))

    def test_cancel_asks_as_the_wizard_does_and_ends_as_stopped(self):
        cases = [
            # answer to "Exit Setup", exit code, files left; unlike the wizard's 0,
            # a script must be able to tell a cancelled run from a finished one
            ("Yes", 2, set()),  # big.bin comes first: no cut file is left
            ("No", 7, WITH_TOOL | {"big.bin"}),
        ]
        for answer, code, files in cases:
            with self.subTest(answer):
                self.empty_destinations()
                process = driver.launch(str(self.package(big=BIG)), "/passive")
                self.addCleanup(e2e.stop_process, process)
                frame = self.frame()
                self.wait_title(frame, wizardkit.expanded(15))
                deadline = time.monotonic() + 60
                while self.page(frame)["controls"][70]["pos"] == 0:
                    self.assertLess(time.monotonic(), deadline, "extraction did not start")
                    time.sleep(0.05)
                self.click(frame, 2)
                self.answer_box("Exit Setup", answer, owner=frame)
                self.expect_exit(process, code)
                self.assertEqual(files, self.files_under(SCRIPT_DEST))

    def test_asks_nothing_and_shows_no_box(self):
        right = self.tmp / "right.txt"
        right.write_bytes(b"pw\r\n")
        old_app = {"app.txt": b"old", "sub\\data.bin": FILES["sub\\data.bin"], "tool.exe": None,
                   "tool.exe.ran": None}
        plain = self.package
        cases = [
            # name, package, args, made before the run, exit code, the frame may show,
            # files in SCRIPT_DEST (names, or {name: bytes or None for any}), files in OTHER_DEST
            ("every page, the question and the final message left out", plain, ["/passive"], None, 7, True,
             WITH_TOOL, set()),
            ("an unattended package", lambda: plain(unattended=True), ["/PASSIVE"], None, 7, True,
             WITH_TOOL, set()),
            ("the destination from the command line", plain, ["/passive", "/D=" + OTHER_DEST], None, 7, True,
             set(), WITH_TOOL),
            ("files only", plain, ["-passive", "/extract=" + OTHER_DEST], None, 0, True, set(),
             set(FILES) | {"tool.exe"}),
            ("an existing file is kept, as in an unattended run", plain, ["/passive"],
             existing_file("app.txt"), 7, True, old_app, set()),
            ("a file that cannot be replaced ends with 1", lambda: plain(overwrite=1), ["/passive"],
             held_file("app.txt"), 1, True, {"app.txt": b"old"}, set()),
            ("a missing follow-up volume is not asked for", self.split_set_without_volume_2, ["/passive"],
             None, 2, True, None, set()),
            ("a protected package without its password file", lambda: plain(password="pw"), ["/passive"],
             None, 2, False, set(), set()),
            ("a protected package with its password file", lambda: plain(password="pw"),
             ["/passive", "/password-file=" + e2e.wine_path(right)], None, 7, True, WITH_TOOL, set()),
            ("a relative destination", plain, ["/passive", "/D=apps"], None, 1, False, set(), set()),
            ("an unknown switch shows no usage", plain, ["/passive", "/bogus"], None, 87, False, set(), set()),
            ("quiet holds over passive: no window at all", plain, ["/passive", "/q"], None, 7, False,
             WITH_TOOL, set()),
        ]
        frame = "#32770 %r" % self.caption
        for name, build, args, before, code, may_show, in_script, in_other in cases:
            with self.subTest(name):
                self.empty_destinations()
                setup = build()
                with before() if before else contextlib.nullcontext():
                    run_code, shown = self.run_watched(setup, args)
                self.assertEqual(code, run_code)
                # Small packages may be done before the frame is seen; the
                # progress test above sees it for certain.
                self.assertIn(shown, ([], [frame]) if may_show else ([],))
                if isinstance(in_script, dict):
                    self.assertEqual(set(in_script), self.files_under(SCRIPT_DEST))
                    for stored, data in in_script.items():
                        path = e2e.prefix_path(SCRIPT_DEST) / stored.replace("\\", "/")
                        if data is not None:
                            self.assertEqual(data, path.read_bytes(), stored)
                elif in_script is not None:
                    self.assertEqual(in_script, self.files_under(SCRIPT_DEST))
                self.assertEqual(in_other, self.files_under(OTHER_DEST))
                self.assertEqual(set(), self.new_work_folders())

    def split_set_without_volume_2(self):
        """Setup.exe over a peer cabinet set whose second volume is missing."""
        peer = pathlib.Path(__file__).resolve().parents[2] / "testdata" / "peer-cabs"
        script = wizardkit.setup_script(**dict(PAGES, run="", launch=""))
        info = cabfile.write_cabinet(self.tmp / "info.cab", [("~DAT1.", script, STAMP, 0x20)])
        for n in range(3, 6):
            shutil.copy(peer / ("split-%d.cab" % n), self.tmp / ("split-%d.cab" % n))
        return e2e.pack_assemble(self.tmp / "Setup.exe", info, peer / "split-1.cab")


def existing_file(stored):
    """Before the run: `stored` holds b"old" in SCRIPT_DEST."""
    @contextlib.contextmanager
    def before():
        path = e2e.prefix_path(SCRIPT_DEST) / stored.replace("\\", "/")
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"old")
        yield
    return before


def held_file(stored):
    """Before and during the run: `stored` holds b"old" and another program
    holds it open."""
    @contextlib.contextmanager
    def before():
        with existing_file(stored)():
            with faults.held_open(e2e.prefix_path(SCRIPT_DEST) / stored):
                yield
    return before

if __name__ == "__main__":
    unittest.main()
