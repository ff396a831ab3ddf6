"""Shared ground of the wizard tests: setup scripts and packages for the
wizard, and a WizardTestCase that reads the frame's pages and buttons
through the test driver.

Screenshots: when VELTRA_SCREENSHOTS names a folder, `snap(name)` saves the
screen there (ImageMagick `import`, on the X display the tests run on).
"""
import os
import pathlib
import shutil
import struct
import subprocess
import time

import e2e

DEFAULT_LANG = None  # the builder's built-in messages


def message(number):
    """A built-in message as the package carries it (single-byte text)."""
    global DEFAULT_LANG
    if DEFAULT_LANG is None:
        DEFAULT_LANG = [line.decode("latin-1") for line in e2e.default_lang_lines()]
    return DEFAULT_LANG[number]


def package_messages(setup_exe, code_page=1252):
    """The 82 messages of a built package's language text, as shown in its code page."""
    data = pathlib.Path(setup_exe).read_bytes()
    base = struct.unpack_from("<i", data, e2e.package_base_field(data))[0]
    size = struct.unpack_from("<i", data, base + 8)[0]
    text = data[base + 33:base + 33 + size]
    return [line.decode("cp%d" % code_page) for line in text.split(b"\r\n")[:82]]


def expanded(number, app="Demo App", breaks=True, messages=None, **tokens):
    """A message (built-in, or of `messages`) with <APPNAME> and the given
    tokens put in, as shown."""
    text = (messages[number] if messages else message(number)).replace("<APPNAME>", app)
    for token, value in tokens.items():
        text = text.replace("<%s>" % token, str(value))
    return text.replace("<br/>", "\r\n") if breaks else text


def setup_script(app="Demo App", min_free=0, dest="", overwrite=0, show_unpack=False,
                 launch="", readme_file="", run="", params="", question="", final="",
                 readme=(), licence=(), unattended=False):
    """The text of "~DAT1.": 14 fixed lines, then the readme and licence lists."""
    fixed = [app, "", "1" if unattended else "0", str(min_free), dest, str(overwrite),
             "1" if show_unpack else "0", "", launch, readme_file, run, params, question, final]
    lines = fixed + list(readme) + ["\x01" * 3] + list(licence) + ["\x03" * 3]
    return ("".join(line + "\r\n" for line in lines)).encode("latin-1")


def bitmap(folder, name, width, height, colours=("#3a6ea5", "#a8c8ec")):
    """A 24-bit Windows bitmap with a gradient, made by ImageMagick."""
    path = pathlib.Path(folder) / name
    subprocess.run(["convert", "-size", "%dx%d" % (width, height),
                    "gradient:%s-%s" % colours, "BMP3:" + str(path)], check=True)
    return path


def build_package(folder, script, payload, password=None, side=None, header=None, name="Setup.exe"):
    """Setup.exe with the script (and pictures) in the information cabinet
    and `payload` ({name: bytes}, or the path of a ready cabinet)."""
    folder = pathlib.Path(folder)
    info_files = {"~DAT1.": script}
    if side is not None:
        info_files["~DAT2A."] = pathlib.Path(side).read_bytes()
    if header is not None:
        info_files["~DAT2B."] = pathlib.Path(header).read_bytes()
    info = e2e.make_cabinet(folder, info_files)
    cab = payload if isinstance(payload, (str, pathlib.Path)) else e2e.make_cabinet(folder, payload)
    return e2e.pack_assemble(folder / name, info, cab, password=password)


def wine_dest(path):
    """A folder or file of the test as the stub sees it (on drive Z:)."""
    return e2e.wine_path(path)


def screenshot_folder():
    folder = os.environ.get("VELTRA_SCREENSHOTS")
    return pathlib.Path(folder) if folder else None


def save_screen(path, windows=(), margin=8):
    """Saves what the X display shows as a PNG: the whole screen, or the
    smallest box around the given windows (driver records) and `margin`
    pixels more. True when ImageMagick's `import` wrote the file."""
    if not shutil.which("import") or not os.environ.get("DISPLAY"):
        return False
    crop = []
    if windows:
        left = max(0, min(w["left"] for w in windows) - margin)
        top = max(0, min(w["top"] for w in windows) - margin)
        right = max(w["left"] + w["width"] for w in windows) + margin
        bottom = max(w["top"] + w["height"] for w in windows) + margin
        crop = ["-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage"]
    time.sleep(0.5)  # let the last paint land
    done = subprocess.run(["import", "-window", "root", *crop, str(path)], check=False,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return done.returncode == 0 and pathlib.Path(path).is_file()


def snap(name):
    """Saves the screen as <VELTRA_SCREENSHOTS>/<name>.png, when asked to."""
    folder = screenshot_folder()
    if folder is None:
        return None
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / (name + ".png")
    return path if save_screen(path) else None


def shown_page(driver, frame):
    """The page dialog now shown in the frame, with its controls by id
    ("controls") and the frame's own ("frame_controls"); LookupError unless
    exactly one page is shown."""
    controls = driver.controls(frame)
    pages = [c for c in controls if c["parent"] == frame["hwnd"] and c["class"] == "#32770"
             and c["visible"]]
    if len(pages) != 1:
        raise LookupError("%d pages shown" % len(pages))
    page = pages[0]
    page["controls"] = {c["id"]: c for c in controls if c["parent"] == page["hwnd"]}
    page["frame_controls"] = {c["id"]: c for c in controls if c["parent"] == frame["hwnd"]}
    return page


def wait_page(driver, frame, title, timeout_s=60):
    """Waits until the shown page carries `title`; returns the page, or None
    when it did not come within `timeout_s`."""
    deadline = time.monotonic() + timeout_s
    while True:
        try:
            page = shown_page(driver, frame)
            if page["controls"].get(100, {}).get("text") == title:
                return page
        except LookupError:
            pass
        if time.monotonic() > deadline:
            return None
        time.sleep(0.2)


def visible_children(controls, parent):
    return [c for c in controls if c["parent"] == parent["hwnd"] and c["visible"]]


class WizardTestCase(e2e.E2ETestCase):
    """Runs wizard packages and reads what the frame shows."""

    APP = "Demo App"

    @property
    def caption(self):
        return self.APP + " Setup"

    def run_setup(self, setup_exe, env=None):
        """Starts Setup.exe, one run at a time: a run that an earlier subtest
        left behind is ended first, so that its windows answer for nothing."""
        for earlier in getattr(self, "_runs", []):
            e2e.stop_process(earlier)
        saved = dict(os.environ)
        os.environ.update(env or {})
        try:
            process = self.start(setup_exe)
        finally:
            os.environ.clear()
            os.environ.update(saved)
        self.addCleanup(e2e.stop_process, process)
        self._runs = getattr(self, "_runs", []) + [process]
        return process

    def frame(self, timeout_ms=e2e.driver.DEFAULT_TIMEOUT_MS):
        return self.driver.wait_window(self.caption, timeout_ms=timeout_ms, cls="#32770")

    def controls(self, window):
        return self.driver.controls(window)

    def page(self, frame):
        """The page dialog now shown in the frame, with its controls by id."""
        try:
            return shown_page(self.driver, frame)
        except LookupError as error:
            self.fail("one page is shown: %s" % error)

    def page_title(self, frame):
        return self.page(frame)["controls"][100]["text"]

    def buttons(self, frame):
        """{"back"|"next"|"cancel": (label, enabled)} of the frame."""
        own = {c["id"]: c for c in self.controls(frame) if c["parent"] == frame["hwnd"]}
        return {name: (own[i]["text"], own[i]["enabled"])
                for name, i in (("back", 1001), ("next", 1), ("cancel", 2))}

    def wait_title(self, frame, title, timeout_s=60):
        """Waits until the shown page carries `title`; returns the page."""
        page = wait_page(self.driver, frame, title, timeout_s)
        if page is None:
            self.fail("no page titled %r within %d s" % (title, timeout_s))
        return page

    def click(self, window, button):
        return self.driver.click(window, button)

    def run_to_progress(self, setup_exe):
        """Runs a package with the unpack page through it, folder kept, to the
        progress page; returns the process and the frame."""
        process = self.run_setup(setup_exe)
        frame = self.frame()
        self.click(frame, 1)
        self.wait_title(frame, expanded(13))
        self.driver.check(frame, 205)
        self.click(frame, 1)
        return process, frame

    def answer_box(self, caption, button, owner=None):
        """Reads the message box with that caption, presses `button`, returns the box."""
        box = self.driver.message_box(caption)
        if owner is not None:
            self.assertEqual(owner["hwnd"], box["owner"])
        self.driver.click(box, button)
        return box

    def expect_exit(self, process, code, timeout_s=120):
        """The run ends by itself within `timeout_s` with `code`, leaving no work folder."""
        try:
            self.assertEqual(code, process.wait(timeout_s))
        except subprocess.TimeoutExpired:
            shown = [(w["caption"], w["class"]) for w in self.driver.windows()]
            self.fail("still running after %d s; windows: %s" % (timeout_s, shown))
        self.assertEqual(set(), self.new_work_folders(), "the private work folder is gone")


# --- The dialog templates as a person's tools see them -------------------

WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x40000000, 0x10000000, 0x08000000
WS_TABSTOP, WS_GROUP, WS_VSCROLL, WS_BORDER = 0x00010000, 0x00020000, 0x00200000, 0x00800000
BS_DEFPUSHBUTTON, BS_AUTOCHECKBOX, BS_AUTORADIOBUTTON = 0x1, 0x3, 0x9
BS_TOP, BS_MULTILINE = 0x400, 0x2000
SS_ICON, SS_BLACKFRAME, SS_BITMAP, SS_ETCHEDHORZ = 0x3, 0x7, 0xE, 0x10
SS_NOPREFIX, SS_CENTERIMAGE = 0x80, 0x200
ES_MULTILINE, ES_PASSWORD, ES_AUTOHSCROLL, ES_READONLY = 0x4, 0x20, 0x80, 0x800
PBS_SMOOTH = 0x1

CV = WS_CHILD | WS_VISIBLE
BUTTON = CV | WS_TABSTOP
LABEL = CV | WS_GROUP
PICTURE = CV | SS_BITMAP | SS_CENTERIMAGE
ETCHED = CV | SS_ETCHEDHORZ

# (id, class, style, x, y, cx, cy) in template order, dialog units.
HEADER = [(1003, "Static", LABEL, 0, 0, 332, 35), (100, "Static", LABEL, 7, 4, 276, 8),
          (101, "Static", LABEL, 21, 15, 265, 18), (1008, "Static", PICTURE, 295, 3, 33, 30)]
TEMPLATES = {
    2000: [(1001, "Button", BUTTON, 161, 202, 50, 15),
           (1, "Button", BUTTON | BS_DEFPUSHBUTTON, 211, 202, 50, 15),
           (2, "Button", BUTTON, 272, 202, 50, 15),
           (-1, "Static", ETCHED, 0, 193, 332, 1),
           (4000, "Static", WS_CHILD | SS_BLACKFRAME, 0, 0, 332, 193)],
    6002: [(1008, "Static", PICTURE, 0, 0, 108, 193), (1003, "Static", LABEL, 108, 0, 223, 193),
           (100, "Static", LABEL, 115, 8, 195, 32), (50, "Static", LABEL, 115, 166, 195, 27),
           (204, "Button", BUTTON | BS_MULTILINE | BS_AUTOCHECKBOX, 115, 112, 195, 15),
           (101, "Static", LABEL, 115, 41, 195, 40),
           (205, "Button", BUTTON | BS_MULTILINE | BS_AUTOCHECKBOX, 115, 136, 195, 15)],
    2002: [(1002, "Static", ETCHED, 0, 35, 332, 1),
           (60, "Edit", CV | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY, 7, 43, 316, 119),
           (50, "Static", LABEL, 7, 166, 316, 21)] + HEADER,
    2005: [(1002, "Static", ETCHED, 0, 35, 332, 1),
           (60, "Edit", CV | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY, 7, 43, 316, 142)]
          + HEADER,
    2001: [(1002, "Static", ETCHED, 0, 35, 332, 1),
           (204, "Button", CV | BS_MULTILINE | BS_TOP | BS_AUTORADIOBUTTON, 7, 43, 316, 39),
           (205, "Button", CV | BS_MULTILINE | BS_TOP | BS_AUTORADIOBUTTON, 7, 87, 316, 39),
           (51, "Static", LABEL, 21, 132, 151, 8),
           (60, "Edit", CV | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 21, 142, 302, 12),
           (1004, "Button", BUTTON, 273, 159, 50, 14)] + HEADER,
    2003: [(1002, "Static", ETCHED, 0, 35, 332, 1),
           (70, "msctls_progress32", CV | PBS_SMOOTH, 7, 107, 316, 10),
           (51, "Static", CV | SS_NOPREFIX, 7, 94, 322, 11),
           (50, "Static", LABEL, 7, 81, 314, 8)] + HEADER,
    3000: [(50, "Static", LABEL, 7, 7, 283, 8), (51, "Static", LABEL, 7, 23, 286, 22),
           (1, "Button", BUTTON | BS_DEFPUSHBUTTON, 7, 65, 42, 14),
           (10, "Button", BUTTON, 53, 65, 65, 14), (11, "Button", BUTTON, 123, 65, 42, 14),
           (12, "Button", BUTTON, 169, 65, 65, 14), (2, "Button", BUTTON, 238, 65, 55, 14),
           (52, "Static", LABEL, 7, 48, 286, 8)],
    5000: [(1, "Button", BUTTON | BS_DEFPUSHBUTTON, 201, 10, 55, 14),
           (2, "Button", BUTTON, 201, 27, 55, 14), (1004, "Button", BUTTON, 201, 101, 55, 14),
           (51, "Static", LABEL, 13, 39, 172, 30), (50, "Static", LABEL, 41, 8, 144, 24),
           (52, "Static", LABEL, 13, 63, 172, 27), (53, "Static", LABEL, 13, 92, 172, 9),
           (3000, "Static", CV | SS_ICON, 13, 7, 20, 20),
           (60, "Edit", CV | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 13, 102, 172, 13),
           (3001, "Static", CV | SS_ICON, 13, 7, 20, 20)],
}
PAGE_SIZES = {6002: (331, 193), 2002: (332, 192), 2005: (332, 192), 2001: (332, 192), 2003: (332, 192)}
# Only present at run time: the progress page's animation.
RUN_TIME_CONTROLS = {109}


def mul_div(value, numerator, denominator):
    """Windows' MulDiv for the non-negative values of a template."""
    return (value * numerator + denominator // 2) // denominator


def template_mismatches(controls, template, origin, base):
    """What differs between the controls (driver records, in template order)
    and the template under base units (bx, by), as a list of texts."""
    bx, by = base
    problems = []
    ids = [c["id"] for c in controls]
    if ids != [row[0] for row in template]:
        return ["controls %s, template %s" % (ids, [row[0] for row in template])]
    for control, (cid, cls, style, x, y, cx, cy) in zip(controls, template):
        if control["class"].lower() != cls.lower():
            problems.append("%d: class %s" % (cid, control["class"]))
        # What the system changes at run time: the dialog manager moves the
        # default look between push buttons, a checked radio button takes
        # the tab stop, an edit control draws its own border instead of
        # WS_BORDER and marks a password field; and the program shows, hides and disables controls.
        changing = WS_VISIBLE | WS_DISABLED
        if cls == "Button":
            kind = style & 0xF
            changing |= WS_TABSTOP if kind == BS_AUTORADIOBUTTON else BS_DEFPUSHBUTTON if kind <= 1 else 0
        if cls == "Edit":
            changing |= WS_BORDER | ES_PASSWORD
        mask = ~changing
        if int(control["style"], 16) & mask & 0xFFFFFFFF != style & mask & 0xFFFFFFFF:
            problems.append("%d: style %s, template 0x%08X" % (cid, control["style"], style))
        want = (mul_div(x, bx, 4), mul_div(y, by, 8), mul_div(cx, bx, 4), mul_div(cy, by, 8))
        have = (control["left"] - origin[0], control["top"] - origin[1], control["width"], control["height"])
        if style & 0x1F == SS_ICON:  # an icon control takes the icon's size
            want, have = want[:2], have[:2]
        slack = 2 if style & 0x1F == SS_ETCHEDHORZ else 0  # an etched line has an edge
        if any(abs(w - h) > slack for w, h in zip(want, have)):
            problems.append("%d: at %s, template %s" % (cid, have, want))
    return problems


def base_units_for(controls, template, origin):
    """The (bx, by) under which the controls are the template, or None."""
    for bx in range(4, 21):
        for by in range(8, 41):
            if not template_mismatches(controls, template, origin, (bx, by)):
                return bx, by
    return None


def page_base_units(page, number):
    """Base units from a page's own size (a page has no frame of its own)."""
    width_du, height_du = PAGE_SIZES[number]
    bxs = [bx for bx in range(4, 21) if mul_div(width_du, bx, 4) == page["width"]]
    bys = [by for by in range(8, 41) if mul_div(height_du, by, 8) == page["height"]]
    return (bxs[0], bys[0]) if bxs and bys else None


class TemplateChecks:
    """Mixed into a WizardTestCase: compares a shown dialog with its template."""

    def assert_page_template(self, frame, number):
        page = self.page(frame)
        controls = [c for c in self.controls(frame)
                    if c["parent"] == page["hwnd"] and c["id"] not in RUN_TIME_CONTROLS]
        base = page_base_units(page, number)
        self.assertIsNotNone(base, "page %d is %dx%d pixels" % (number, page["width"], page["height"]))
        origin = (page["left"], page["top"])
        self.assertEqual([], template_mismatches(controls, TEMPLATES[number], origin, base),
                         "template %d under base units %s" % (number, base))
        return page

    def assert_window_template(self, window, number):
        controls = [c for c in self.controls(window)
                    if c["parent"] == window["hwnd"] and c["class"] != "#32770"]
        base = base_units_for(controls, TEMPLATES[number], (0, 0))
        if base is None:
            self.fail("template %d: %s" % (number, template_mismatches(controls, TEMPLATES[number],
                                                                        (0, 0), (7, 13))))
        return base
