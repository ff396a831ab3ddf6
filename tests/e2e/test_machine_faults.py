"""What a real machine does to an installation: a drive that fills up, a
destination file held open, a read-only drive, a run killed midway, files
dated outside the DOS range, and the person leaving during extraction or at
the next-volume prompt. Each case checks the exit code (or the message), that
no file is cut or lost (every file holds its old or its new content, and no
partial "~VT<number>" file is left), and that nothing is left in TEMP."""
import contextlib
import os
import pathlib
import shutil
import signal
import tempfile
import time
import unittest

import cabfile
import e2e
import faults
from wizardkit import WizardTestCase, build_package, expanded, message, setup_script, wine_dest

STAMP = cabfile.dos_stamp(2021, 6, 1, 12, 0, 0)
ARCHIVE, READ_ONLY = 0x20, 0x01
DRIVE = "S"
BIG = 160 * 1024 * 1024  # zeros: quick to pack, long enough to write that a run can be stopped in it
PEER_CABS = pathlib.Path(__file__).resolve().parents[2] / "testdata" / "peer-cabs"


def partial_files(*folders):
    """Partial files anywhere below the given host folders."""
    return sorted(str(p) for folder in folders if pathlib.Path(folder).exists()
                  for p in pathlib.Path(folder).rglob("~VT*"))


def temp_entries(folder):
    """The stub's own folders in a temporary folder: work and unpack folders."""
    folder = pathlib.Path(folder)
    return {p.name for pattern in ("VELTRA*", "~SSET*") for p in folder.glob(pattern)}


def entries(files, attributes=ARCHIVE):
    return [(name, data, STAMP, attributes) for name, data in files.items()]


class FaultTestCase(WizardTestCase):
    def setUp(self):
        super().setUp()
        self.temp_before = temp_entries(e2e.wine_temp_folder())

    def assert_temp_clean(self, folder=None):
        """No work or unpack folder of the run is left in TEMP."""
        if folder is None:
            self.assertEqual(set(), temp_entries(e2e.wine_temp_folder()) - self.temp_before, "TEMP")
        else:
            self.assertEqual(set(), temp_entries(folder), "TEMP on %s" % folder)

    def assert_files(self, folder, expected):
        """Exactly the expected {name: bytes} in `folder` (None: absent), and no partial file."""
        folder = pathlib.Path(folder)
        for name, content in expected.items():
            path = folder / name
            if content is None:
                self.assertFalse(path.exists(), name)
            else:
                self.assertEqual(content, path.read_bytes(), name)
        self.assertEqual([], partial_files(folder))

    def unattended_package(self, folder, dest, files, **script):
        folder.mkdir(parents=True, exist_ok=True)
        script = e2e.setup_script(dest=dest, **script)
        return e2e.build_package(folder, script, entries(files))

    def run_unattended(self, setup):
        return self.finish(self.start(setup))

    @contextlib.contextmanager
    def drive(self, size_kib):
        with faults.small_drive(DRIVE, size_kib) as host:
            yield host

    @contextlib.contextmanager
    def temp_on_a_full_drive(self):
        """TMP and TEMP on a small drive with 256 KiB left; restored afterwards."""
        saved = e2e.user_environment()
        try:
            with self.drive(4096) as host:
                faults.fill(host, 256 * 1024)
                e2e.set_user_environment({"TMP": ("REG_SZ", DRIVE + ":\\"), "TEMP": ("REG_SZ", DRIVE + ":\\")})
                yield host
        finally:
            e2e.set_user_environment({name: saved.get(name) for name in ("TMP", "TEMP")})


class UnattendedFaultsTest(FaultTestCase):
    """Unattended: the run ends with its code and leaves old or new files, never cut ones."""

    def test_faults_end_with_their_codes_and_leave_old_files(self):
        new = b"n" * (2 * 1024 * 1024)

        def full_with_min_free(host):
            faults.fill(host, 512 * 1024)
            return {"min_free": len(new) + 100}

        def full_midway(host):
            faults.fill(host, 512 * 1024)
            return {"min_free": 0}

        def read_only_drive(host):
            faults.remount_read_only(host)
            return {"min_free": 0}

        cases = [
            # name, prepare(host) -> script fields, exit code
            ("MinFree beyond the free space: stopped before anything is written", full_with_min_free, 1),
            ("drive fills midway: the file being replaced keeps its old content", full_midway, 1),
            ("read-only drive", read_only_drive, 1),
        ]
        for name, prepare, code in cases:
            with self.subTest(name), self.drive(4096) as host:
                (host / "dest").mkdir()
                (host / "dest" / "app.bin").write_bytes(b"old")
                setup = self.unattended_package(self.tmp / name[:4], DRIVE + ":\\dest", {"app.bin": new},
                                                overwrite=1, **prepare(host))
                self.assertEqual(code, self.run_unattended(setup))
                self.assert_files(host / "dest", {"app.bin": b"old"})
                self.assert_temp_clean()

    def test_held_open_file_ends_with_1_and_keeps_it(self):
        dest = self.tmp / "dest"
        dest.mkdir()
        (dest / "held.txt").write_bytes(b"old")
        setup = self.unattended_package(self.tmp, wine_dest(dest), {"a.txt": b"new a", "held.txt": b"new"},
                                        overwrite=1)
        with faults.held_open(dest / "held.txt"):
            self.assertEqual(1, self.run_unattended(setup))
        self.assert_files(dest, {"a.txt": b"new a", "held.txt": b"old"})
        self.assert_temp_clean()

    def test_existing_files_of_any_date_and_read_only_ones_are_replaced(self):
        dest = self.tmp / "dest"
        dest.mkdir()
        cases = {"dated-1979.txt": 1979, "dated-2110.txt": 2110, "read-only.txt": 2001}
        for name, year in cases.items():
            path = dest / name
            path.write_bytes(b"old")
            stamp = time.mktime((year, 6, 15, 12, 0, 0, 0, 0, -1))
            os.utime(path, (stamp, stamp))
        (dest / "read-only.txt").chmod(0o444)
        dest.chmod(0o555)  # the folder read-only too
        try:
            files = {name: b"new " + name.encode() for name in cases}
            setup = self.unattended_package(self.tmp, wine_dest(dest), files, overwrite=1)
            self.assertEqual(0, self.run_unattended(setup))
            self.assert_files(dest, files)
        finally:
            dest.chmod(0o755)
        self.assert_temp_clean()

    def test_killed_run_leaves_the_old_file_and_the_next_run_removes_its_partial_file(self):
        dest = self.tmp / "dest"
        dest.mkdir()
        (dest / "big.bin").write_bytes(b"old")
        setup = self.unattended_package(self.tmp, wine_dest(dest), {"big.bin": bytes(BIG)}, overwrite=1)
        process = self.start(setup)
        try:
            deadline = time.monotonic() + 120
            while not any(os.path.getsize(p) > 0 for p in partial_files(dest)):
                self.assertIsNone(process.poll(), "the run ended before it could be killed")
                self.assertLess(time.monotonic(), deadline, "no partial file appeared")
                time.sleep(0.05)
            os.kill(process.pid, signal.SIGKILL)
        finally:
            e2e.stop_process(process)
        self.assertEqual(b"old", (dest / "big.bin").read_bytes())
        stale = partial_files(dest)
        self.assertEqual(1, len(stale), "the killed run's partial file")
        killed_work = temp_entries(e2e.wine_temp_folder()) - self.temp_before
        self.assertEqual(0, self.run_unattended(setup))
        self.assertEqual(BIG, (dest / "big.bin").stat().st_size)
        self.assertEqual([], partial_files(dest))
        # A killed process removes nothing: its own work folder is all it leaves.
        self.assertEqual(killed_work, temp_entries(e2e.wine_temp_folder()) - self.temp_before)
        for name in killed_work:
            shutil.rmtree(e2e.wine_temp_folder() / name, ignore_errors=True)


class WizardFaultsTest(FaultTestCase):
    """The wizard: the questions a fault raises, and what each answer leaves."""

    def test_held_open_file_abort_retry_ignore(self):
        cases = [
            # answer, release before answering, exit code, content of held.txt afterwards
            ("Abort", False, 1, b"old"),
            ("Retry", True, 0, b"new"),
            ("Ignore", False, 0, b"old"),
        ]
        for answer, release, code, kept in cases:
            with self.subTest(answer):
                dest = pathlib.Path(tempfile.mkdtemp(prefix="dest-", dir=self.tmp))
                (dest / "held.txt").write_bytes(b"old")
                script = setup_script(dest=wine_dest(dest), overwrite=1, show_unpack=True)
                setup = build_package(self.tmp, script, {"held.txt": b"new", "z-after.txt": b"after"})
                with faults.held_open(dest / "held.txt") as holder:
                    process, _ = self.run_to_progress(setup)
                    box = self.driver.message_box(message(1))
                    self.assertEqual(message(61) + "\r" + wine_dest(dest / "held.txt"), box["text"])
                    if release:
                        holder.release()
                    self.driver.click(box, answer)
                    self.expect_exit(process, code)
                after = b"after" if code == 0 else None
                self.assert_files(dest, {"held.txt": kept, "z-after.txt": after})
                self.assert_temp_clean()

    def test_temp_on_a_full_drive_is_checked_before_extraction(self):
        with self.temp_on_a_full_drive() as host:
            dest = self.tmp / "dest"
            min_free = 1024 * 1024
            script = setup_script(dest=wine_dest(dest), min_free=min_free)
            setup = build_package(self.tmp, script, {"a.txt": b"a"})
            # No unpack page: the files go to TEMP and are removed afterwards.
            process = self.run_setup(setup)
            frame = self.frame()
            self.click(frame, 1)
            box = self.driver.message_box(expanded(0))
            self.assertEqual(message(60) + "\r\n" + expanded(58, MIN_FREE=min_free), box["text"])
            self.driver.click(box, "OK")
            self.assertEqual(1, process.wait(120))
            self.assert_temp_clean(host)
            self.assertFalse(dest.exists())

    def test_unpack_page_checks_the_folder_of_its_choice(self):
        with self.temp_on_a_full_drive() as host:
            dest = self.tmp / "dest"
            min_free = 1024 * 1024
            script = setup_script(dest=wine_dest(dest), min_free=min_free, show_unpack=True)
            setup = build_package(self.tmp, script, {"a.txt": b"a"})
            process = self.run_setup(setup)
            frame = self.frame()
            self.click(frame, 1)
            self.wait_title(frame, expanded(13))
            self.driver.check(frame, 204)  # into TEMP, removed afterwards: TEMP is full
            self.click(frame, 1)
            box = self.answer_box(message(1), "OK")
            self.assertEqual(expanded(58, MIN_FREE=min_free), box["text"])
            self.wait_title(frame, expanded(13))
            self.driver.check(frame, 205)  # the destination folder has room
            self.click(frame, 1)
            self.expect_exit(process, 0)
            self.assert_files(dest, {"a.txt": b"a"})
            self.assert_temp_clean(host)


class LeavingDuringExtractionTest(FaultTestCase):
    """Yes at the exit question while a file is written, and Cancel at the
    next-volume prompt: the run ends with the code it always had, and leaves
    the old file, no cut one, and nothing in TEMP."""

    def bar(self, frame):
        return self.page(frame)["controls"][70]["pos"]

    def test_yes_at_the_exit_question(self):
        cases = [("into a kept folder", True), ("into TEMP, removed afterwards", False)]
        for name, kept in cases:
            with self.subTest(name):
                dest = pathlib.Path(tempfile.mkdtemp(prefix="dest-", dir=self.tmp))
                (dest / "big.bin").write_bytes(b"old")
                script = setup_script(dest=wine_dest(dest), min_free=BIG, overwrite=1, show_unpack=kept)
                setup = build_package(self.tmp, script, {"big.bin": bytes(BIG)})
                if kept:
                    process, frame = self.run_to_progress(setup)
                else:
                    process = self.run_setup(setup)
                    frame = self.frame()
                    self.click(frame, 1)
                self.wait_title(frame, expanded(15))
                deadline = time.monotonic() + 60
                while self.bar(frame) == 0:
                    self.assertLess(time.monotonic(), deadline, "extraction did not start")
                    time.sleep(0.05)
                self.click(frame, 2)
                self.answer_box(message(2), "Yes")
                self.expect_exit(process, 0)
                self.assert_files(dest, {"big.bin": b"old"})
                self.assert_temp_clean()

    def test_cancel_at_the_next_volume_prompt(self):
        dest = self.tmp / "dest"
        dest.mkdir()
        # medium1.bin begins in the first volume and goes on in the second.
        (dest / "medium1.bin").write_bytes(b"old")
        script = setup_script(dest=wine_dest(dest), overwrite=1, show_unpack=True)
        setup = build_package(self.tmp, script, PEER_CABS / "split-1.cab")
        process, _ = self.run_to_progress(setup)
        prompt = self.driver.wait_window(message(41), cls="#32770")
        self.assertEqual(1, len(partial_files(dest)), "medium1.bin is being written")
        self.driver.click(prompt, 2)
        self.answer_box(message(2), "Yes", owner=prompt)
        self.expect_exit(process, 0)
        self.assert_files(dest, {"medium1.bin": b"old", "medium2.bin": None})
        self.assertTrue((dest / "small1.bin").is_file())
        self.assert_temp_clean()


if __name__ == "__main__":
    unittest.main(verbosity=2)
