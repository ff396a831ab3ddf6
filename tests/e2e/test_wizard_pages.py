"""The wizard frame end to end: the page sequence with its skips and button
states, the exit question, the About box, the free-space check and the
templates of the frame and its pages."""
import os
import subprocess
import tempfile
import unittest

import e2e
from wizardkit import (TemplateChecks, WizardTestCase, build_package, expanded, message,
                       setup_script, snap)

TITLES = {1: 17, 2: 19, 3: 21, 4: 13}
# (message, enabled) of Back, Next and Cancel on each page.
BUTTONS = {
    1: ((9, False), (10, True), (4, True)),
    2: ((9, True), (5, True), (6, True)),
    3: ((9, True), (10, True), (4, True)),
    4: ((9, True), (10, True), (4, True)),
}


def shown_pages(licence, readme, unpack):
    return [1] + [2] * licence + [3] * readme + [4] * unpack


class WizardPagesTest(WizardTestCase, TemplateChecks):
    def package(self, licence=True, readme=True, unpack=True, **script):
        text = setup_script(licence=["Terms of <APPNAME>", "", "More terms."] if licence else [],
                            readme=["Read me first."] if readme else [], show_unpack=unpack,
                            dest=script.pop("dest", "<TEMP>\\VeltraWizardDest"), **script)
        return build_package(self.tmp, text, {"hello.txt": b"hello\r\n"})

    def expect_page(self, frame, number):
        page = self.wait_title(frame, expanded(TITLES[number]))
        shown = self.buttons(frame)
        for name, (label, enabled) in zip(("back", "next", "cancel"), BUTTONS[number]):
            self.assertEqual((message(label), enabled), shown[name], "%s on page %d" % (name, number))
        return page

    def test_every_page_sequence_forward_and_back(self):
        for bits in range(8):
            licence, readme, unpack = bool(bits & 1), bool(bits & 2), bool(bits & 4)
            with self.subTest(licence=licence, readme=readme, unpack=unpack):
                pages = shown_pages(licence, readme, unpack)
                process = self.run_setup(self.package(licence, readme, unpack))
                frame = self.frame()
                for i, number in enumerate(pages):
                    self.expect_page(frame, number)
                    if i + 1 < len(pages):
                        self.click(frame, 1)
                for number in reversed(pages[:-1]):
                    self.click(frame, 1001)
                    self.expect_page(frame, number)
                for number in pages[1:]:
                    self.click(frame, 1)
                    self.expect_page(frame, number)
                # On from the last page: the progress page, extraction, the end.
                self.click(frame, 1)
                self.expect_exit(process, 0)
                self.assertEqual([], list(e2e.wine_temp_folder().glob("~SSET*")))

    def test_licence_no_asks_and_no_stays_yes_leaves(self):
        process = self.run_setup(self.package())
        frame = self.frame()
        self.expect_page(frame, 1)
        self.click(frame, 1)
        page = self.expect_page(frame, 2)
        # The licence text is shown as written, the question with the name put in.
        self.assertEqual("Terms of <APPNAME>\r\n\r\nMore terms.", page["controls"][60]["text"])
        self.assertEqual(expanded(27), page["controls"][50]["text"])
        self.assertTrue(page["controls"][60]["readonly"])
        snap("licence")
        for leave in (lambda: self.click(frame, 2), lambda: self.driver.close(frame)):
            leave()
            box = self.answer_box("Exit Setup", "No", owner=frame)
            self.assertEqual(expanded(57), box["text"])
            self.assertEqual("question", box["icon"])
            self.assertEqual(7, box["default_id"])  # No is the default answer
            self.expect_page(frame, 2)
        self.click(frame, 2)
        self.answer_box("Exit Setup", "Yes", owner=frame)
        self.expect_exit(process, 0)

    def test_about_box_from_the_system_menu(self):
        process = self.run_setup(self.package(licence=False, readme=False))
        frame = self.frame()
        self.driver.syscommand(frame, 9999)
        box = self.driver.message_box()
        self.assertEqual(self.caption, box["caption"])
        self.assertEqual(frame["hwnd"], box["owner"])
        lines = box["text"].split("\r\n")
        self.assertEqual(3, len(lines), box["text"])
        self.assertEqual("ul-Fen Setup", lines[0])
        self.assertTrue(lines[1] and lines[2])
        self.assertEqual([("OK", True)], [(b["text"], b["default"]) for b in box["buttons"]])
        self.driver.click(box, "OK")
        self.expect_page(frame, 1)
        self.click(frame, 2)
        self.answer_box("Exit Setup", "Yes")
        self.expect_exit(process, 0)

    def test_frame_and_pages_match_their_templates(self):
        process = self.run_setup(self.package())
        frame = self.frame()
        self.assert_window_template(frame, 2000)
        for number, template in ((1, 6002), (2, 2002), (3, 2005), (4, 2001)):
            self.expect_page(frame, number)
            page = self.assert_page_template(frame, template)
            # Every page sits at the top-left corner of the frame's placeholder.
            self.assertEqual((0, 0), (page["left"], page["top"]))
            if number < 4:
                self.click(frame, 1)
        self.click(frame, 2)
        self.answer_box("Exit Setup", "Yes")
        self.expect_exit(process, 0)

    def test_free_space_shortage_shows_message_58_and_keeps_the_page(self):
        need = 10 ** 15
        process = self.run_setup(self.package(licence=False, readme=False, min_free=need))
        frame = self.frame()
        self.click(frame, 1)
        self.expect_page(frame, 4)
        self.click(frame, 1)
        box = self.answer_box("Error", "OK", owner=frame)
        self.assertEqual(expanded(58, MIN_FREE=need), box["text"])
        self.assertEqual("hand", box["icon"])  # MB_ICONERROR
        self.expect_page(frame, 4)
        self.click(frame, 2)
        self.answer_box("Exit Setup", "Yes")
        self.expect_exit(process, 0)

    def test_empty_kept_folder_has_no_free_space(self):
        process = self.run_setup(self.package(licence=False, readme=False, min_free=1))
        frame = self.frame()
        self.click(frame, 1)
        self.expect_page(frame, 4)
        self.driver.check(frame, 205)
        self.driver.set_text(frame, 60, "")
        self.click(frame, 1)
        box = self.answer_box("Error", "OK")
        self.assertEqual(expanded(58, MIN_FREE=1), box["text"])
        self.expect_page(frame, 4)
        self.click(frame, 2)
        self.answer_box("Exit Setup", "Yes")
        self.expect_exit(process, 0)

    def fixed_size_drive(self):
        """A small tmpfs seen by Wine as a drive of its own, whose free space
        nothing else changes; (drive letter, mount point)."""
        if os.geteuid() != 0:
            self.skipTest("mounting a tmpfs needs root")
        mount = tempfile.mkdtemp(prefix="veltra-fs-")
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", mount]).returncode:
            os.rmdir(mount)
            self.skipTest("tmpfs cannot be mounted here")
        self.addCleanup(os.rmdir, mount)
        self.addCleanup(subprocess.run, ["umount", mount])
        devices = e2e.PREFIX / "dosdevices"
        letter = next(c for c in "qrstuvwxy" if not os.path.lexists(devices / (c + ":")))
        (devices / (letter + ":")).symlink_to(mount)
        self.addCleanup((devices / (letter + ":")).unlink)
        return letter.upper(), mount

    def test_free_space_equal_to_min_free_passes_one_byte_more_fails(self):
        letter, mount = self.fixed_size_drive()
        stat = os.statvfs(mount)
        free = stat.f_bavail * stat.f_frsize
        for need, passes in ((free + 1, False), (free, True)):
            with self.subTest(min_free=need):
                process = self.run_setup(self.package(licence=False, readme=False, min_free=need))
                frame = self.frame()
                self.click(frame, 1)
                self.expect_page(frame, 4)
                self.driver.check(frame, 205)
                self.driver.set_text(frame, 60, letter + ":\\kept")
                self.click(frame, 1)
                if passes:
                    self.expect_exit(process, 0)
                    with open(os.path.join(mount, "kept", "hello.txt"), "rb") as kept:
                        self.assertEqual(b"hello\r\n", kept.read())
                else:
                    box = self.answer_box("Error", "OK")
                    self.assertEqual(expanded(58, MIN_FREE=need), box["text"])
                    self.expect_page(frame, 4)
                    self.click(frame, 2)
                    self.answer_box("Exit Setup", "Yes")
                    self.expect_exit(process, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
