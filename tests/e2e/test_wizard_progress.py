"""The progress page and the overwrite prompt end to end: the status line
and the bar while a prompt holds extraction, the prompt's five answers, and
Cancel during extraction, which holds the worker until it is answered."""
import os
import pathlib
import struct
import tempfile
import time
import unittest

import e2e
from wizardkit import (TemplateChecks, WizardTestCase, build_package, expanded, message,
                       setup_script, snap, wine_dest)

OVERWRITE = "Overwrite Protection"


def float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def bar_position(written, min_free):
    """Where the bar stands after `written` bytes: scaled into 0..32767 by the
    32-bit float nearest to 32767 / MinFree above 32767, unscaled below."""
    if min_free > 32767:
        return round(written * float32(32767 / min_free))
    return written


class WizardProgressTest(WizardTestCase, TemplateChecks):
    def kept_install(self, files, existing=(), min_free=0, overwrite=0):
        """Setup.exe that installs `files` into a folder kept afterwards, where
        the `existing` names already hold b"old"; returns (exe, folder)."""
        dest = pathlib.Path(tempfile.mkdtemp(prefix="dest-", dir=self.tmp))
        for name in existing:
            (dest / name).write_bytes(b"old")
        script = setup_script(min_free=min_free, dest=wine_dest(dest), overwrite=overwrite,
                              show_unpack=True)
        return build_package(self.tmp, script, files), dest

    def prompt(self):
        return self.driver.wait_window(OVERWRITE, cls="#32770")

    def prompt_path(self, prompt):
        return self.driver.control(prompt, 51)["text"]

    def test_bar_and_status_while_a_prompt_holds_extraction(self):
        cases = [(1000, 600, 700), (100000, 50000, 20000), (32767, 30000, 2000), (32768, 20000, 10000)]
        for min_free, first, second in cases:
            with self.subTest(min_free=min_free):
                name = "b R&D notes.txt"
                setup, dest = self.kept_install({"a-first.bin": b"a" * first, name: b"b" * second},
                                                existing=[name], min_free=min_free)
                process, frame = self.run_to_progress(setup)
                prompt = self.prompt()
                page = self.page(frame)
                bar, status = page["controls"][70], page["controls"][51]
                self.assertEqual((0, min(min_free, 32767)), (bar["min"], bar["max"]))
                self.assertEqual(bar_position(first, min_free), bar["pos"])
                # The stored name, ampersand and all, shown as written.
                self.assertEqual(message(49).replace("<S>", name), status["text"])
                self.assertTrue(int(status["style"], 16) & 0x80, "SS_NOPREFIX")
                self.assertEqual(wine_dest(dest / name), self.prompt_path(prompt))
                snap("progress-overwrite-%d" % min_free)
                self.driver.click(prompt, 11)  # No: the skipped file still counts
                self.expect_exit(process, 0)
                self.assertEqual(b"old", (dest / name).read_bytes())
                self.assertEqual(b"a" * first, (dest / "a-first.bin").read_bytes())

    def test_progress_page_and_overwrite_prompt_match_their_templates(self):
        setup, dest = self.kept_install({"x.txt": b"new"}, existing=["x.txt"])
        process, frame = self.run_to_progress(setup)
        prompt = self.prompt()
        self.assert_page_template(frame, 2003)
        page = self.page(frame)
        animation = [c for c in self.controls(frame) if c["id"] == 109]
        self.assertEqual(["SysAnimate32"], [c["class"] for c in animation])
        self.assertEqual((expanded(15), expanded(16), message(31)),
                         tuple(page["controls"][i]["text"] for i in (100, 101, 50)))
        shown = self.buttons(frame)
        self.assertEqual({"back": (message(9), False), "next": (message(10), False),
                          "cancel": (message(4), True)}, shown)
        self.assert_window_template(prompt, 3000)
        texts = {c["id"]: c["text"] for c in self.controls(prompt)}
        self.assertEqual({50: message(46), 51: wine_dest(dest / "x.txt"), 52: message(47),
                          1: message(5), 10: message(7), 11: message(6), 12: message(8), 2: message(4)},
                         texts)
        self.assertEqual(frame["hwnd"], prompt["owner"])
        self.driver.click(prompt, 1)
        self.expect_exit(process, 0)
        self.assertEqual(b"new", (dest / "x.txt").read_bytes())

    def answer_prompts(self, answers):
        """Answers the prompts in turn; returns the file each one named."""
        asked = []
        for answer in answers:
            prompt = self.prompt()
            asked.append(pathlib.PureWindowsPath(self.prompt_path(prompt)).name)
            self.driver.click(prompt, answer)
        return asked

    def test_five_answers(self):
        names = ["f1.txt", "f2.txt", "f3.txt", "f4.txt"]
        files = {name: b"new " + name.encode() for name in names}
        cases = [
            # answers, files then holding the new text
            ([1, 11, 10], {"f1.txt", "f3.txt", "f4.txt"}),
            ([12], set()),
            ([11, 1, 12], {"f2.txt"}),
        ]
        for answers, replaced in cases:
            with self.subTest(answers=answers):
                setup, dest = self.kept_install(files, existing=names)
                process, frame = self.run_to_progress(setup)
                asked = self.answer_prompts(answers)
                self.assertEqual(names[:len(answers)], asked)
                # A "to all" answer was the last question of the run.
                self.expect_exit(process, 0)
                for name in names:
                    self.assertEqual(files[name] if name in replaced else b"old",
                                     (dest / name).read_bytes(), name)

    def test_cancel_asks_no_keeps_the_prompt_yes_ends_with_2(self):
        setup, dest = self.kept_install({"f1.txt": b"new"}, existing=["f1.txt"])
        process, frame = self.run_to_progress(setup)
        prompt = self.prompt()
        self.driver.click(prompt, 2)
        box = self.answer_box("Exit Setup", "No", owner=prompt)
        self.assertEqual(expanded(57), box["text"])
        prompt = self.prompt()
        self.assertEqual(wine_dest(dest / "f1.txt"), self.prompt_path(prompt))
        self.driver.click(prompt, 2)
        self.answer_box("Exit Setup", "Yes", owner=prompt)
        self.expect_exit(process, 2)
        self.assertEqual(b"old", (dest / "f1.txt").read_bytes())

    def test_closing_the_prompt_and_leaving_ends_with_0(self):
        setup, dest = self.kept_install({"f1.txt": b"new"}, existing=["f1.txt"])
        process, frame = self.run_to_progress(setup)
        self.driver.close(self.prompt())
        self.answer_box("Exit Setup", "Yes")
        self.expect_exit(process, 0)
        self.assertEqual(b"old", (dest / "f1.txt").read_bytes())

    def test_overwrite_policy_from_the_script_asks_nothing(self):
        for mode, expected in ((1, b"new"), (2, b"old"), (3, b"old")):
            with self.subTest(mode=mode):
                setup, dest = self.kept_install({"f1.txt": b"new"}, existing=["f1.txt"], overwrite=mode)
                process, frame = self.run_to_progress(setup)
                self.expect_exit(process, 0)
                self.assertEqual(expected, (dest / "f1.txt").read_bytes())


class CancelDuringExtractionTest(WizardTestCase):
    SIZE = 160 * 1024 * 1024  # zeros: a small package that takes a while to write

    def start_big_install(self):
        dest = self.tmp / "dest"
        script = setup_script(min_free=self.SIZE, dest=wine_dest(dest), show_unpack=True)
        setup = build_package(self.tmp, script, {"big.bin": bytes(self.SIZE)})
        process, frame = self.run_to_progress(setup)
        self.wait_title(frame, expanded(15))
        return process, frame, dest / "big.bin"

    def bar(self, frame):
        return self.page(frame)["controls"][70]["pos"]

    def written(self, folder):
        """Bytes in the folder's files: the file being written has a partial name."""
        return sum(p.stat().st_size for p in folder.iterdir() if p.is_file())

    def cancel_while_writing(self, frame):
        deadline = time.monotonic() + 60
        while self.bar(frame) == 0:
            self.assertLess(time.monotonic(), deadline, "extraction did not start")
            time.sleep(0.05)
        self.click(frame, 2)
        return self.driver.message_box("Exit Setup")

    def test_no_resumes_where_it_stopped(self):
        process, frame, big = self.start_big_install()
        box = self.cancel_while_writing(frame)
        held = (self.bar(frame), self.written(big.parent))
        time.sleep(2)
        self.assertEqual(held, (self.bar(frame), self.written(big.parent)), "nothing moves while asked")
        self.assertLess(held[1], self.SIZE)
        snap("progress-cancel-question")
        self.driver.click(box, "No")
        self.expect_exit(process, 0)
        self.assertEqual(self.SIZE, big.stat().st_size)
        self.assertEqual(["big.bin"], [p.name for p in big.parent.iterdir()])

    def test_yes_ends_with_0(self):
        process, frame, big = self.start_big_install()
        box = self.cancel_while_writing(frame)
        self.driver.click(box, "Yes")
        self.expect_exit(process, 0)
        # What was written goes: no cut file is left, under its name or any other.
        self.assertEqual([], [p.name for p in big.parent.iterdir()])


if __name__ == "__main__":
    unittest.main(verbosity=2)
