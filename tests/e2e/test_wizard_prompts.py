"""The password and next-volume prompts end to end: what they show, what
they accept, and how they end the run."""
import hashlib
import pathlib
import shutil
import tempfile
import unittest

import e2e
from wizardkit import (TemplateChecks, WizardTestCase, build_package, expanded, message,
                       setup_script, snap, wine_dest)

PEER_CABS = pathlib.Path(__file__).resolve().parents[2] / "testdata" / "peer-cabs"
PASSWORD = "Password"
NEXT_VOLUME = "Next Volume required"


def expected_split_files():
    """{name: md5} of the five-volume peer set, as cabextract reported it."""
    files, inside = {}, False
    for line in (PEER_CABS / "EXPECTED.txt").read_text().splitlines():
        if line.startswith("== "):
            inside = line == "== split-1.cab"
        elif inside and line.strip().endswith(tuple("0123456789abcdef")) and " OK " in line:
            parts = line.split()
            files[parts[0]] = parts[-1]
    return files


class PasswordPromptTest(WizardTestCase, TemplateChecks):
    SECRET = "Open Sesame"

    def package(self, password):
        dest = pathlib.Path(tempfile.mkdtemp(prefix="dest-", dir=self.tmp))
        script = setup_script(dest=wine_dest(dest), show_unpack=True)
        setup = build_package(self.tmp, script, {"hello.txt": b"hello\r\n"}, password=password)
        return setup, dest

    def prompt(self):
        return self.driver.wait_window(PASSWORD, cls="#32770")

    def enter(self, text):
        prompt = self.prompt()
        self.driver.type_text(prompt, 60, text)
        self.driver.click(prompt, 1)

    def install_kept(self, dest):
        frame = self.frame()
        self.click(frame, 1)
        self.wait_title(frame, expanded(13))
        self.driver.check(frame, 205)
        self.click(frame, 1)

    def test_prompt_shows_its_texts_and_hides_what_it_does_not_need(self):
        setup, _ = self.package(self.SECRET)
        process = self.run_setup(setup)
        prompt = self.prompt()
        self.assertIsNone(prompt["owner"])
        self.assert_window_template(prompt, 5000)
        controls = {c["id"]: c for c in self.controls(prompt)}
        self.assertEqual((message(38), message(39), message(40), message(3), message(4)),
                         tuple(controls[i]["text"] for i in (50, 51, 53, 1, 2)))
        self.assertEqual({52: False, 1004: False, 3000: False, 3001: True, 60: True},
                         {i: controls[i]["visible"] for i in (52, 1004, 3000, 3001, 60)})
        self.assertTrue(controls[3001]["icon"])
        # Typed characters show as blanks, not as stars.
        self.assertEqual(ord(" "), controls[60]["password_char"])
        self.assertTrue(controls[60]["focused"])
        self.driver.type_text(prompt, 60, "abc")
        snap("password")
        self.driver.click(prompt, 2)
        box = self.answer_box("Exit Setup", "No", owner=prompt)
        self.assertEqual(expanded(57, app="???"), box["text"])
        self.assertEqual("abc", self.driver.control(self.prompt(), 60)["text"])
        self.driver.click(self.prompt(), 2)
        self.answer_box("Exit Setup", "Yes")
        self.expect_exit(process, 0)

    def test_wrong_password_ends_with_message_63(self):
        # Of another length than the password, so that the key stream differs
        # from the first byte after the fixed prefix on.
        for typed in ("wrong", "", self.SECRET + ", please"):
            with self.subTest(typed=typed):
                setup, _ = self.package(self.SECRET)
                process = self.run_setup(setup)
                self.enter(typed)
                box = self.answer_box("Error", "OK")
                self.assertEqual(message(63), box["text"])
                self.assertEqual("hand", box["icon"])
                self.expect_exit(process, 2)

    def test_right_password_installs(self):
        long_secret = ("p4ss" * 65)[:259]
        # Typed text beyond 259 characters is cut off, so 300 typed characters
        # open a package whose password is their first 259.
        for secret, typed in ((self.SECRET, self.SECRET), (long_secret, long_secret + "x" * 41)):
            with self.subTest(length=len(typed)):
                setup, dest = self.package(secret)
                process = self.run_setup(setup)
                self.enter(typed)
                self.install_kept(dest)
                self.expect_exit(process, 0)
                self.assertEqual(b"hello\r\n", (dest / "hello.txt").read_bytes())


class NextVolumePromptTest(WizardTestCase, TemplateChecks):
    """A payload that is the first of five volumes; the others lie elsewhere."""

    def package(self, volumes_beside=False):
        dest = self.tmp / "dest"
        script = setup_script(dest=wine_dest(dest), show_unpack=True)
        setup = build_package(self.tmp, script, PEER_CABS / "split-1.cab")
        volumes = self.tmp if volumes_beside else self.tmp / "volumes"
        volumes.mkdir(exist_ok=True)
        for n in range(2, 6):
            shutil.copyfile(PEER_CABS / ("split-%d.cab" % n), volumes / ("split-%d.cab" % n))
        return setup, dest, volumes

    def prompt(self):
        return self.driver.wait_window(NEXT_VOLUME, cls="#32770")

    def assert_installed(self, dest):
        for name, md5 in expected_split_files().items():
            self.assertEqual(md5, hashlib.md5((dest / name).read_bytes()).hexdigest(), name)

    def test_volumes_beside_the_program_need_no_prompt(self):
        setup, dest, _ = self.package(volumes_beside=True)
        process, _ = self.run_to_progress(setup)
        self.expect_exit(process, 0)
        self.assert_installed(dest)

    def test_prompt_names_the_volume_and_takes_its_location(self):
        setup, dest, volumes = self.package()
        process, frame = self.run_to_progress(setup)
        prompt = self.prompt()
        self.assertEqual(frame["hwnd"], prompt["owner"])
        self.assert_window_template(prompt, 5000)
        controls = {c["id"]: c for c in self.controls(prompt)}
        texts = tuple(controls[i]["text"] for i in (50, 51, 52, 53, 1, 2, 1004))
        self.assertEqual((message(42), "Split cabinet file 2/5 (Split-2.CAB)", message(43), message(44),
                          message(3), message(4), message(12)), texts)
        # First looked for beside the program.
        self.assertEqual(wine_dest(self.tmp) + "\\", controls[60]["text"])
        self.assertEqual({3000: True, 3001: False}, {i: controls[i]["visible"] for i in (3000, 3001)})
        snap("next-volume")
        # Cancel, then No: the prompt stays as it was.
        self.driver.click(prompt, 2)
        self.answer_box("Exit Setup", "No", owner=prompt)
        self.assertEqual(controls[60]["text"], self.driver.control(self.prompt(), 60)["text"])
        self.driver.set_text(prompt, 60, wine_dest(volumes))
        self.driver.click(prompt, 1)
        # Later volumes are found where the second one was.
        self.expect_exit(process, 0)
        self.assert_installed(dest)

    def test_location_too_long_for_the_cabinet_library_is_refused(self):
        setup, dest, volumes = self.package()
        process, _ = self.run_to_progress(setup)
        prompt = self.prompt()
        too_long = "Z:\\" + "a" * 252  # 255 characters; with its backslash 256
        self.driver.set_text(prompt, 60, too_long)
        self.driver.click(prompt, 1)
        box = self.answer_box("Error", "OK", owner=prompt)
        self.assertEqual(expanded(56, S=too_long), box["text"])
        prompt = self.prompt()
        self.assertEqual(too_long, self.driver.control(prompt, 60)["text"])
        self.driver.set_text(prompt, 60, wine_dest(volumes))
        self.driver.click(prompt, 1)
        self.expect_exit(process, 0)
        self.assert_installed(dest)

    def test_a_location_without_the_volume_asks_again(self):
        setup, dest, volumes = self.package()
        process, _ = self.run_to_progress(setup)
        self.driver.set_text(self.prompt(), 60, wine_dest(self.tmp / "nowhere"))
        self.driver.click(self.prompt(), 1)
        prompt = self.prompt()
        self.assertEqual(wine_dest(self.tmp / "nowhere") + "\\", self.driver.control(prompt, 60)["text"])
        self.driver.click(prompt, 2)
        self.answer_box("Exit Setup", "Yes", owner=prompt)
        self.expect_exit(process, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
