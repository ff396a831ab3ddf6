"""What a run reports at its end: the program run after extraction (missing,
failing, asking for a restart, behind a path with blanks, a Windows Installer
package, a batch file) and destinations that name no folder by themselves.
Each case checks the exit code in full, the files and the temporary folder.

Under Wine a process's exit code reaches Linux only modulo 256, so each run
goes through a batch file that waits for Setup.exe and writes down %ERRORLEVEL%."""
import pathlib
import shutil
import unittest

import cabfile
import e2e
import faults
from wizardkit import WizardTestCase, build_package, expanded, setup_script

STAMP = cabfile.dos_stamp(2022, 2, 3, 4, 5, 6)
NOT_STARTED = 5
FAILED = 1


def entry(name, data):
    return (name, data, STAMP, 0x20)


def exitwith():
    return faults.EXITWITH.read_bytes()


class OutcomeTestCase(e2e.E2ETestCase):
    def setUp(self):
        super().setUp()
        if not faults.EXITWITH.is_file():
            self.skipTest("VELTRA_EXITWITH must name the built fixture")
        self.dest = "C:\\veltra-e2e\\outcomes"
        self.root = e2e.prefix_path(self.dest)
        shutil.rmtree(self.root, ignore_errors=True)
        self.sset_before = self.sset_folders()

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)
        super().tearDown()

    def sset_folders(self):
        return {p.name for p in e2e.wine_temp_folder().glob("~SSET*")}

    def full_exit_code(self, setup, cwd):
        """Runs Setup.exe to its end from `cwd` and returns its whole exit code."""
        batch, result = self.tmp / "run.bat", self.tmp / "exit.txt"
        result.unlink(missing_ok=True)
        batch.write_bytes(b'@start "" /wait "%s"\r\n@echo exit=%%ERRORLEVEL%%> "%s"\r\n'
                          % (e2e.wine_path(setup).encode(), e2e.wine_path(result).encode()))
        e2e.driver.runlog.record(setup)
        # Not through a pipe: Wine's services, started with the first program,
        # would hold it open.
        e2e.subprocess.run(e2e.driver.wine_command("cmd", "/c", e2e.wine_path(batch)),
                           env=e2e.driver.wine_environment(), cwd=cwd, stdin=e2e.subprocess.DEVNULL,
                           stdout=e2e.subprocess.DEVNULL, stderr=e2e.subprocess.DEVNULL,
                           timeout=e2e.RUN_TIMEOUT_S)
        self.assertTrue(result.exists(), "the run did not end")
        return int(result.read_text().strip()[len("exit="):])

    def run_unattended(self, entries, cwd=None, **script):
        script.setdefault("dest", self.dest)
        folder = self.tmp / "package"
        folder.mkdir(exist_ok=True)
        setup = e2e.build_package(folder, e2e.setup_script(**script), entries)
        cwd = cwd or self.tmp
        code = self.full_exit_code(setup, cwd)
        self.assertEqual(set(), self.new_work_folders(), "a work folder was left in TEMP")
        self.assertEqual(self.sset_before, self.sset_folders(), "an unpack folder was left in TEMP")
        return code


class ProgramOutcomeTest(OutcomeTestCase):
    def test_the_programs_outcome_is_the_runs(self):
        # name, payload, RunProgram, RunParams, exit code, {file: its text, or None: any}, files that must not be
        ran = {"tool.exe.ran": None}
        cases = [
            ("missing", [entry("a.txt", b"a")], "<INSTALL>\\absent.exe", "", NOT_STARTED, {"a.txt": b"a"}, []),
            ("fails", [entry("tool.exe", exitwith())], "<INSTALL>\\tool.exe", "1", 1, ran, []),
            ("restart", [entry("tool.exe", exitwith())], "<INSTALL>\\tool.exe", "3010", 3010, ran, []),
            ("succeeds", [entry("tool.exe", exitwith())], "<INSTALL>\\tool.exe", "", 0, ran, []),
            # Unquoted, "<dest>\Acme.exe" would run first and end with 0.
            ("blanks", [entry("Acme Tools\\postinstall.exe", exitwith()), entry("Acme.exe", exitwith())],
             "<INSTALL>\\Acme Tools\\postinstall.exe", "7", 7, {"Acme Tools/postinstall.exe.ran": None},
             ["Acme.exe.ran"]),
            ("batch", [entry("post.bat", b'@echo %1> "%~dp0bat.ran"\r\n@exit /b 0\r\n')],
             "<INSTALL>\\post.bat", "given", 0, {"bat.ran": b"given\r\n"}, []),
            ("command", [entry("post.cmd", b'@echo ran> "%~dp0cmd.ran"\r\n@exit /b 1603\r\n')],
             "<INSTALL>\\post.cmd", "", 1603, {"cmd.ran": b"ran\r\n"}, []),
            ("missing document", [entry("a.txt", b"a")], "<INSTALL>\\absent.msi", "", NOT_STARTED,
             {"a.txt": b"a"}, []),
        ]
        for name, entries, run, params, code, present, absent in cases:
            with self.subTest(name):
                shutil.rmtree(self.root, ignore_errors=True)
                self.assertEqual(code, self.run_unattended(entries, run=run, params=params))
                for path, text in present.items():
                    self.assertTrue((self.root / path).is_file(), path)
                    if text is not None:
                        self.assertEqual(text, (self.root / path).read_bytes(), path)
                for path in absent:
                    self.assertFalse((self.root / path).exists(), path)

    def test_a_windows_installer_package_is_installed_by_msiexec(self):
        msi = faults.build_msi(self.tmp)
        faults.uninstall_msi(msi)
        try:
            code = self.run_unattended([entry("product.msi", msi.read_bytes())], run="<INSTALL>\\product.msi")
            self.assertEqual(0, code)
            installed = faults.msi_installed_files()
            self.assertEqual(["payload.txt"], [p.name for p in installed])
            self.assertEqual(b"installed by msiexec\r\n", installed[0].read_bytes())
        finally:
            faults.uninstall_msi(msi)
        self.assertEqual([], faults.msi_installed_files())


class DestinationOutcomeTest(OutcomeTestCase):
    def test_empty_and_relative_destinations_are_refused(self):
        for dest in ("", "relative", "relative\\deeper", "\\rooted-nowhere", "C:drive-relative"):
            with self.subTest(dest=dest):
                cwd = self.tmp / ("cwd-%d" % len(list(self.tmp.iterdir())))
                cwd.mkdir()
                code = self.run_unattended([entry("a.txt", b"a"), entry("sub\\b.txt", b"b")], cwd=cwd, dest=dest)
                self.assertEqual(FAILED, code)
                self.assertEqual([], list(cwd.iterdir()), "files landed in the current folder")
                strays = [pathlib.Path("/rooted-nowhere"), e2e.PREFIX / "drive_c" / "a.txt",
                          e2e.PREFIX / "drive_c" / "drive-relative", e2e.PREFIX / "drive_c" / "windows" / "a.txt"]
                for stray in strays:
                    self.assertFalse(stray.exists(), stray)


class WizardOutcomeTest(WizardTestCase):
    """The wizard names a program it cannot start, and refuses a kept folder
    that names no folder by itself."""

    def sset_folders(self):
        return {p.name for p in e2e.wine_temp_folder().glob("~SSET*")}

    def test_a_program_that_cannot_be_started_is_named_and_ends_with_5(self):
        before = self.sset_folders()
        script = setup_script(show_unpack=False, run="<INSTALL>\\absent.exe")
        process = self.run_setup(build_package(self.tmp, script, {"a.txt": b"a"}))
        frame = self.frame()
        self.click(frame, 1)  # welcome -> progress
        box = self.answer_box(expanded(0), "OK")
        lines = box["text"].split("\r\n")
        self.assertEqual([expanded(60, breaks=False), "Unable to start this file:"], lines[:2])
        self.assertRegex(lines[2], r"\\~SSET\d+\\absent\.exe$")
        self.expect_exit(process, NOT_STARTED)
        self.assertEqual(before, self.sset_folders())
        self.assertEqual(set(), self.new_work_folders())

    def test_a_relative_kept_folder_is_refused_with_message_56(self):
        for typed in ("", "relative\\kept"):
            with self.subTest(typed=typed):
                script = setup_script(show_unpack=True, dest="<TEMP>\\VeltraOutcomeDest")
                process = self.run_setup(build_package(self.tmp, script, {"a.txt": b"a"}))
                frame = self.frame()
                self.click(frame, 1)
                self.wait_title(frame, expanded(13))
                self.driver.check(frame, 205)
                self.driver.set_text(frame, 60, typed)
                self.click(frame, 1)
                box = self.answer_box(expanded(1, breaks=False), "OK")
                self.assertEqual(expanded(56, S=typed), box["text"])
                self.wait_title(frame, expanded(13))  # the page stays
                self.click(frame, 2)
                self.answer_box(expanded(2, breaks=False), "Yes")
                self.expect_exit(process, 0)
                self.assertEqual(set(), self.new_work_folders())
                # The stub runs in this process's current folder.
                self.assertFalse(pathlib.Path("relative").exists(), "a folder was made in the current folder")


if __name__ == "__main__":
    unittest.main(verbosity=2)
