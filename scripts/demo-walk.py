#!/usr/bin/env python3
"""Walks the wizard demo (demo/wizard.ini, built around the product's 32-bit stub) as a
person would and saves a screenshot of every page and prompt.

    scripts/demo-walk.py SETUP_EXE SCREENS_FOLDER [CODE_PAGE]

SETUP_EXE is the built package, in whatever language it carries: the walk
reads the wizard's texts from the package itself, in CODE_PAGE (1252 unless
given), and runs under a locale whose ANSI code page that is. Its further volumes
(Setup-2.cab, ... beside it) are copied into a folder of their own, so that
the next-volume prompt shows. Before the files go in, the destination gets an
older readme.txt, so that the overwrite prompt shows. The screenshots land in
SCREENS_FOLDER as NN-name.png. Needs VELTRA_DRIVER (veltra-driver.exe),
WINEPREFIX, DISPLAY. Exit status 0 when the walk reached its end and the
files are installed, 1 otherwise.
"""
import os
import pathlib
import shutil
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "e2e"))
import e2e  # noqa: E402
from e2e import driver  # noqa: E402
from wizardkit import expanded, package_messages, save_screen, wait_page, wine_dest  # noqa: E402

APP = "Veltra Demo"
PASSWORD = "veltra"
OLD_README = b"An older readme, left by an earlier install.\r\n"
# The package as a user would get it; its second volume is kept elsewhere, so
# that the walk meets the next-volume prompt.
WALK_EXE = "Setup.exe"
IDOK, IDNO = 1, 7


class WalkError(RuntimeError):
    pass


class Walk:
    def __init__(self, setup_exe, screens, code_page=1252):
        self.setup_exe = pathlib.Path(setup_exe).resolve()
        self.screens = pathlib.Path(screens)
        self.driver = driver.Driver()
        self.process = None
        self.frame = None
        self.shots = []
        self.messages = package_messages(self.setup_exe, code_page)

    def text(self, number):
        """Message `number` of the package as the wizard shows it."""
        return expanded(number, app=APP, messages=self.messages)

    # --- helpers ----------------------------------------------------------

    def shot(self, name, *windows):
        """Saves NN-name.png around the given windows (the whole screen without)."""
        path = self.screens / ("%02d-%s.png" % (len(self.shots) + 1, name))
        records = [self.driver.info(w) for w in windows]
        if not save_screen(path, records):
            raise WalkError("no screenshot " + path.name)
        self.shots.append(path)
        print("  " + path.name, flush=True)

    def dialog(self, caption):
        return self.driver.wait_window(caption, cls="#32770")

    def page(self, title):
        page = wait_page(self.driver, self.frame, title)
        if page is None:
            raise WalkError("the wizard did not show the page %r" % title)
        return page

    def prompt(self, *captions):
        """The first prompt to show of those with these captions."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            for window in self.driver.windows():
                if window["class"] == "#32770" and window["visible"] and window["caption"] in captions:
                    return window
            time.sleep(0.3)
        raise WalkError("none of the prompts %r showed" % (captions,))

    def next(self):
        self.driver.click(self.frame, 1)

    def box(self, caption, name, answer):
        """Shoots a message box of the frame's over the frame, then answers it."""
        box = self.driver.message_box(caption)
        self.shot(name, self.frame, box)
        self.driver.click(box, answer)

    # --- the walk ---------------------------------------------------------

    def prepare(self):
        """A copy of the package whose second volume lies in a folder of its own."""
        walk = self.screens.parent / "walk"
        shutil.rmtree(walk, ignore_errors=True)
        (walk / "disk2").mkdir(parents=True)
        shutil.copyfile(self.setup_exe, walk / WALK_EXE)
        if not self.setup_exe.with_name("Setup-2.cab").is_file():
            raise WalkError("no second volume beside " + str(self.setup_exe))
        for volume in self.setup_exe.parent.glob("Setup-*.cab"):
            shutil.copyfile(volume, walk / "disk2" / volume.name)
        shutil.rmtree(self.screens, ignore_errors=True)
        self.screens.mkdir(parents=True)
        return walk

    def run(self):
        walk = self.prepare()
        self.process = driver.launch(str(walk / WALK_EXE))

        prompt = self.dialog(self.text(37))
        self.driver.type_text(prompt, 60, PASSWORD)
        self.shot("password", prompt)
        self.driver.click(prompt, 1)

        self.frame = self.driver.wait_window(self.text(0), cls="#32770")
        self.page(self.text(17))
        self.shot("welcome", self.frame)
        self.driver.syscommand(self.frame, 9999)
        # Message boxes by button id: their labels are in the system's language.
        self.box(self.text(0), "about", IDOK)
        self.driver.click(self.frame, 2)
        self.box(self.text(2), "exit-question", IDNO)

        self.next()
        self.page(self.text(19))
        self.shot("licence", self.frame)
        self.next()
        self.page(self.text(21))
        self.shot("readme", self.frame)
        self.next()
        self.page(self.text(13))
        self.shot("unpack-options", self.frame)
        self.driver.check(self.frame, 205)
        page = self.page(self.text(13))
        dest = page["controls"][60]["text"]
        self.shot("unpack-folder", self.frame)
        installed = self.host_path(dest)
        # What an earlier walk installed goes, so that only readme.txt is asked about.
        shutil.rmtree(installed, ignore_errors=True)
        installed.mkdir(parents=True)
        (installed / "readme.txt").write_bytes(OLD_README)

        self.next()
        # Which prompt comes first depends on where readme.txt sorts among
        # the stored names, that is on the language.
        waiting = [self.text(41), self.text(45)]
        prompt = self.prompt(*waiting)
        self.page(self.text(15))
        self.shot("progress", self.frame, prompt)
        while True:
            waiting.remove(prompt["caption"])
            if prompt["caption"] == self.text(41):
                self.shot("next-volume", prompt)
                self.driver.set_text(prompt, 60, wine_dest(walk / "disk2"))
            else:
                self.shot("overwrite", self.frame, prompt)
            self.driver.click(prompt, 1)
            if not waiting:
                break
            prompt = self.prompt(*waiting)

        self.page(self.text(23))
        self.shot("completion", self.frame)
        self.next()
        code = self.process.wait(120)
        if code != 0:
            raise WalkError("Setup.exe ended with exit code %d" % code)
        self.check_installed(installed)

    def host_path(self, windows_path):
        """Where a folder that the wizard shows lies on this machine."""
        folder = windows_path.rstrip("\\")
        if folder[:2].upper() == "Z:":
            return pathlib.Path(folder[2:].replace("\\", "/") or "/")
        return e2e.prefix_path(folder)

    def check_installed(self, folder):
        readme = (folder / "readme.txt").read_bytes()
        if readme == OLD_README:
            raise WalkError("readme.txt was not replaced in " + str(folder))
        names = sorted(str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file())
        print("Installed into %s: %s" % (folder, ", ".join(names)))
        if len(names) != 4:
            raise WalkError("expected 4 installed files, found %d" % len(names))

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.driver.stop()


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    walk = Walk(argv[1], argv[2], int(argv[3]) if len(argv) == 4 else 1252)
    print("Walking the wizard of %s; screenshots in %s" % (argv[1], argv[2]), flush=True)
    try:
        walk.run()
    except (WalkError, driver.DriverError, OSError) as error:
        failure = walk.screens / "failure.png"
        if walk.screens.is_dir() and save_screen(failure):
            print("what the screen showed: " + str(failure), file=sys.stderr)
        print("the walk failed: %s" % error, file=sys.stderr)
        return 1
    finally:
        walk.stop()
    print("The walk is complete: %d screenshots." % len(walk.shots))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
