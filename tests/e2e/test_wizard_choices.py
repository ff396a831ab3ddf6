"""What the wizard shows and asks beyond its texts: the two pictures on the
pages that carry them, both Browse buttons with the folder dialog answered,
and Abort/Retry/Ignore when a folder cannot be made (message 62)."""
import pathlib
import shutil
import subprocess
import time
import unittest

import cabfile
import e2e
from wizardkit import (WizardTestCase, bitmap, build_package, expanded, message, save_screen,
                       setup_script, wine_dest)

PEER_CABS = pathlib.Path(__file__).resolve().parents[2] / "testdata" / "peer-cabs"
STAMP = cabfile.dos_stamp(2021, 6, 1, 12, 0, 0)
SIDE_COLOUR, HEADER_COLOUR = (200, 30, 40), (20, 160, 60)


def rgb(text):
    return "#%02x%02x%02x" % text


def colour_box(png, colour, slack=12):
    """The bounding box (left, top, width, height) of the pixels of a PNG
    that show `colour` (r, g, b), and their number; None when there are none."""
    ppm = subprocess.run(["convert", str(png), "-depth", "8", "ppm:-"], check=True,
                         capture_output=True).stdout
    fields = ppm.split(maxsplit=4)  # P6, width, height, 255, pixels
    width, height, pixels = int(fields[1]), int(fields[2]), fields[4]
    xs, ys, count = [], [], 0
    for y in range(height):
        row = pixels[y * width * 3:(y + 1) * width * 3]
        for x in range(width):
            if all(abs(row[3 * x + i] - colour[i]) <= slack for i in range(3)):
                xs.append(x)
                ys.append(y)
                count += 1
    if not count:
        return None
    return (min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1), count


class PicturesTest(WizardTestCase):
    """~DAT2A. (the side picture) on the welcome and completion pages,
    ~DAT2B. (the header picture) on the inner pages."""

    def assert_picture(self, frame, title, name, shown, absent):
        """The page's picture control shows the bitmap of colour `shown`,
        filling it, and nothing of colour `absent` is on the frame."""
        page = self.wait_title(frame, title)
        picture = page["controls"][1008]
        self.assertTrue(picture["visible"], "the picture control is shown")
        shot = self.tmp / (name + ".png")
        self.assertTrue(save_screen(shot, [frame], margin=0), "screen shot")
        found = colour_box(shot, shown)
        self.assertIsNotNone(found, "the picture is on the screen")
        (left, top, width, height), count = found
        # Centred in its control, cut to it where it is larger.
        self.assertLessEqual(abs(width - picture["width"]), 2, "width %d in %s" % (width, picture))
        self.assertLessEqual(abs(height - picture["height"]), 2, "height %d in %s" % (height, picture))
        self.assertGreaterEqual(count, width * height * 0.98, "a solid picture, not an outline")
        self.assertIsNone(colour_box(shot, absent), "the other picture is not shown")

    def test_side_picture_outside_and_header_picture_inside(self):
        dest = self.tmp / "dest"
        side = bitmap(self.tmp, "side.bmp", 164, 314, (rgb(SIDE_COLOUR),) * 2)
        header = bitmap(self.tmp, "header.bmp", 49, 49, (rgb(HEADER_COLOUR),) * 2)
        script = setup_script(dest=wine_dest(dest), show_unpack=True, readme_file="<INSTALL>\\a.txt")
        setup = build_package(self.tmp, script, {"a.txt": b"a\r\n"}, side=side, header=header)
        process = self.run_setup(setup)
        frame = self.frame()
        pages = (("welcome", expanded(17), SIDE_COLOUR, HEADER_COLOUR),
                 ("unpack", expanded(13), HEADER_COLOUR, SIDE_COLOUR),
                 ("completion", expanded(23), SIDE_COLOUR, HEADER_COLOUR))
        for name, title, shown, absent in pages:
            with self.subTest(page=name):
                self.assert_picture(frame, title, name, shown, absent)
            if name == "welcome":
                self.click(frame, 1)
            elif name == "unpack":
                self.driver.check(frame, 205)
                self.click(frame, 1)
        self.driver.check(frame, 205, 0)
        self.driver.close(frame)
        self.expect_exit(process, 0)


class BrowseTest(WizardTestCase):
    """Both Browse buttons open the folder dialog; its answer lands in the edit."""

    def answer_folder_dialog(self, owner, accept):
        """Waits for the folder dialog over `owner`, picks the first folder
        below its top item (or cancels), and returns the dialog's record."""
        dialog = None
        deadline = time.monotonic() + 60
        while dialog is None and time.monotonic() < deadline:
            dialog = next((w for w in self.driver.windows()
                           if w.get("owner") == owner["hwnd"] and w["class"] == "#32770"
                           and w["hwnd"] != owner["hwnd"]), None)
            time.sleep(0.2)
        self.assertIsNotNone(dialog, "the folder dialog opens")
        tree = next(c for c in self.controls(dialog) if c["class"].lower() == "systreeview32")
        if accept:  # from the top item, one down: a folder of the file system
            self.assertTrue(tree["visible"])
            self.driver.key(dialog, "down")
        self.driver.click(dialog, "OK" if accept else "Cancel")
        self.driver.wait_gone(dialog)
        return dialog

    def unpack_page(self):
        """The unpack page with the kept folder chosen; (owner, its edit's text, finish)."""
        dest = self.tmp / "dest"
        script = setup_script(dest=wine_dest(dest), show_unpack=True)
        process = self.run_setup(build_package(self.tmp, script, {"a.txt": b"a\r\n"}))
        frame = self.frame()
        self.click(frame, 1)
        self.wait_title(frame, expanded(13))
        self.driver.check(frame, 205)

        def finish():
            self.driver.set_text(frame, 60, wine_dest(dest))
            self.click(frame, 1)
            self.expect_exit(process, 0)
            self.assertEqual(b"a\r\n", (dest / "a.txt").read_bytes())
        return frame, wine_dest(dest) + "\\", finish

    def next_volume_prompt(self):
        volumes = self.tmp / "volumes"
        volumes.mkdir()
        for n in range(2, 6):
            shutil.copyfile(PEER_CABS / ("split-%d.cab" % n), volumes / ("split-%d.cab" % n))
        script = setup_script(dest=wine_dest(self.tmp / "dest"), show_unpack=True)
        process, _ = self.run_to_progress(build_package(self.tmp, script, PEER_CABS / "split-1.cab"))
        prompt = self.driver.wait_window("Next Volume required", cls="#32770")

        def finish():
            self.driver.set_text(prompt, 60, wine_dest(volumes))
            self.click(prompt, 1)
            self.expect_exit(process, 0)
        return prompt, wine_dest(self.tmp) + "\\", finish

    def host_folder(self, windows_path):
        if windows_path[:2].upper() == "Z:":
            return pathlib.Path("/" + windows_path[3:].replace("\\", "/"))
        return e2e.prefix_path(windows_path)

    def test_browse_buttons(self):
        for where in ("unpack page", "next-volume prompt"):
            with self.subTest(where=where):
                open_at = self.unpack_page if where == "unpack page" else self.next_volume_prompt
                owner, before, finish = open_at()
                self.assertEqual(before, self.driver.control(owner, 60)["text"])
                self.click(owner, 1004)
                self.answer_folder_dialog(owner, accept=False)
                self.assertEqual(before, self.driver.control(owner, 60)["text"], "cancelled: the edit stays")
                self.click(owner, 1004)
                self.answer_folder_dialog(owner, accept=True)
                chosen = self.driver.control(owner, 60)["text"]
                self.assertNotEqual(before, chosen, "the chosen folder lands in the edit")
                self.assertTrue(self.host_folder(chosen).is_dir(), chosen)
                finish()


class FolderFailureTest(WizardTestCase):
    """A file stands where the folder "sub" must be made: message 62."""

    ENTRIES = (("first.txt", b"first\r\n"), ("sub\\a.txt", b"a\r\n"), ("sub\\b.txt", b"b\r\n"),
               ("last.txt", b"last\r\n"))

    def package(self, unattended):
        dest = self.tmp / "dest"
        dest.mkdir()
        (dest / "sub").write_bytes(b"in the way")
        payload = cabfile.write_cabinet(self.tmp / "payload.cab",
                                        [(name, data, STAMP, 0x20) for name, data in self.ENTRIES])
        script = setup_script(dest=wine_dest(dest), show_unpack=not unattended, unattended=unattended)
        return build_package(self.tmp, script, payload), dest

    def installed(self, dest):
        names = ("first.txt", "sub/a.txt", "sub/b.txt", "last.txt")
        return {n for n in names if (dest / n).is_file()}

    def test_abort_retry_ignore(self):
        # answer, what to do before answering, boxes expected, exit code, files present after
        everything = {"first.txt", "sub/a.txt", "sub/b.txt", "last.txt"}
        rows = (
            ("Retry", lambda dest: (dest / "sub").unlink(), 1, 0, everything),
            ("Ignore", None, 2, 0, {"first.txt", "last.txt"}),
            ("Abort", None, 1, 1, {"first.txt"}),
        )
        for answer, before, boxes, code, present in rows:
            with self.subTest(answer=answer):
                shutil.rmtree(self.tmp / "dest", ignore_errors=True)
                setup, dest = self.package(unattended=False)
                process, frame = self.run_to_progress(setup)
                for _ in range(boxes):
                    box = self.driver.message_box()
                    self.assertEqual(frame["hwnd"], box["owner"])
                    self.assertEqual(message(62) + "\r\n" + wine_dest(dest / "sub") + "\\", box["text"])
                    self.assertEqual("Error", box["caption"])
                    self.assertEqual([3, 4, 5], [b["id"] for b in box["buttons"]])  # IDABORT, IDRETRY, IDIGNORE
                    if before:
                        before(dest)
                    self.driver.click(box, answer)
                    self.driver.wait_gone(box)
                self.expect_exit(process, code)
                self.assertEqual(present, self.installed(dest))
                if answer != "Retry":
                    self.assertEqual(b"in the way", (dest / "sub").read_bytes())

    def test_unattended_ends_with_1_without_asking(self):
        setup, dest = self.package(unattended=True)
        process = self.run_setup(setup)
        self.expect_exit(process, 1)
        self.assertEqual(b"in the way", (dest / "sub").read_bytes())
        self.assertNotIn("last.txt", self.installed(dest))


if __name__ == "__main__":
    unittest.main(verbosity=2)
