"""Self-test of the test driver: runs the fixture program under Wine and checks
that the driver reads its windows as they are and acts on them as a person
would. Needs VELTRA_DRIVER and VELTRA_DRIVER_FIXTURE (set by ctest) and an X
display; without one it starts itself again under xvfb-run."""
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import driver as drv  # noqa: E402

FIXTURE = os.environ.get("VELTRA_DRIVER_FIXTURE", "")
MB_OK, MB_OKCANCEL, MB_ABORTRETRYIGNORE, MB_YESNOCANCEL, MB_YESNO = 0, 1, 2, 3, 4
MB_ICONHAND, MB_ICONQUESTION, MB_ICONEXCLAMATION, MB_ICONASTERISK = 0x10, 0x20, 0x30, 0x40
MB_DEFBUTTON2 = 0x100
IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO = 1, 2, 3, 4, 5, 6, 7
# A program started under Wine may take minutes to show its first window here.
LAUNCH_S = 600
EXIT_WAIT_S = 600
POLL_MS = 5000
DRIVER = None  # one session for all tests keeps Wine's server up between them


def setUpModule():
    global DRIVER
    if os.path.isfile(FIXTURE):
        DRIVER = drv.Driver()


def tearDownModule():
    if DRIVER:
        DRIVER.stop()


class Fixture:
    """One run of the fixture program; ended by force if a test leaves it open."""

    def __init__(self, *args):
        self.proc = drv.launch(FIXTURE, *args, stdout=subprocess.PIPE)

    def first(self, call, *args):
        """What `call` finds once the program shows it; fails at once if the program has ended."""
        deadline = time.monotonic() + LAUNCH_S
        while True:
            try:
                return call(*args, timeout_ms=POLL_MS)
            except drv.DriverError:
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    raise

    def results(self):
        """Each round's result as the fixture printed it, and its exit code."""
        out, _ = self.proc.communicate(timeout=EXIT_WAIT_S)
        return [int(line) for line in out.split()], self.proc.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.communicate()


def labels(buttons):
    return [drv.strip_accelerators(b["text"]) for b in buttons]


class DriverTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not DRIVER:
            raise unittest.SkipTest("VELTRA_DRIVER_FIXTURE is not set")
        cls.d = DRIVER

    def by_id(self, controls):
        table = {}
        for c in controls:
            table.setdefault(c["id"], []).append(c)
        return table


class MessageBoxTest(DriverTest):
    # flags, caption, text, labels, icon, default id, button to press, answer
    CASES = [
        (MB_OK | MB_ICONEXCLAMATION, "Veltra", "No data is associated with this Package.",
         ["OK"], "exclamation", IDOK, "OK", IDOK),
        (MB_OKCANCEL | MB_ICONQUESTION, "Frage \u00e9t\u00e9", "Line one\nLine two",
         ["OK", "Cancel"], "question", IDOK, "Cancel", IDCANCEL),
        (MB_YESNO | MB_ICONHAND | MB_DEFBUTTON2, "", "Empty caption, tab\there",
         ["Yes", "No"], "hand", IDNO, IDYES, IDYES),
        (MB_ABORTRETRYIGNORE | MB_ICONASTERISK, "Three", "Abort, retry or ignore?",
         ["Abort", "Retry", "Ignore"], "asterisk", IDABORT, "&Ignore", IDIGNORE),
        (MB_YESNOCANCEL, "No icon", "Plain", ["Yes", "No", "Cancel"], None, IDYES, "No", IDNO),
    ]

    def test_reads_and_answers_message_boxes(self):
        specs = [str(x) for case in self.CASES for x in (hex(case[0]), case[1], case[2])]
        with Fixture("msgbox", *specs) as f:
            for flags, caption, text, names, icon, default, press, answer in self.CASES:
                box = f.first(self.d.message_box, caption)
                shown = self.d.info(box)
                pressed = self.d.click(box, press)
                self.assertEqual(pressed["id"], answer)
                self.d.wait_gone(box)
                seen = (box["caption"], box["text"], labels(box["buttons"]), box["icon"],
                        box["default_id"], box["owner"], shown["message_box"])
                self.assertEqual(seen, (caption, text, names, icon, default, None, True))
            answers = [case[-1] for case in self.CASES]
            self.assertEqual(f.results(), (answers, answers[-1]))

    def test_twin_captions_need_a_handle(self):
        with Fixture("twins", "Twin") as f:
            f.first(self.d.message_box, "Twin")
            twins = []
            for _ in range(100):  # the second box may appear a moment later
                twins = [w for w in self.d.windows() if w["caption"] == "Twin"]
                if len(twins) == 2:
                    break
            self.assertEqual(len(twins), 2)
            with self.assertRaises(drv.DriverError) as caught:
                self.d.click("Twin", "OK")
            self.assertEqual(caught.exception.returncode, 1)
            self.assertIn("2 windows are captioned", caught.exception.message)
            texts = {self.d.message_box(t)["text"]: t for t in twins}
            self.assertEqual(sorted(texts), ["first", "second"])
            self.d.click(texts["first"], "OK")
            self.d.click(texts["second"], "Cancel")
            self.assertEqual(f.results(), ([IDOK, IDCANCEL], IDCANCEL))


class DialogTest(DriverTest):
    def open_dialog(self, fixture):
        start = fixture.first(self.d.message_box, "Fixture Start")
        self.assertEqual((start["icon"], labels(start["buttons"])), ("question", ["OK", "Cancel"]))
        self.d.click(start, "OK")
        frame = self.d.wait_window("Driver Fixture")
        self.assertEqual(frame["pid"], start["pid"])
        return frame

    def check_controls(self, frame):
        c = self.by_id(self.d.controls(frame))
        page = [w for w in c[-1] if w["parent"] != frame["hwnd"]]
        expected = [  # id, kind, text, extra fields
            (500, "static", "&Name:", {}),
            (200, "edit", "initial text", {"readonly": False, "focused": True}),
            (201, "edit", "", {"password_char": ord("*")}),
            (300, "checkbox", "&Remember", {"check": 0}),
            (301, "radio", "Option &A", {"check": 1}),
            (302, "radio", "Option &B", {"check": 0}),
            (400, "progress", "", {"min": 0, "max": 250, "pos": 100}),
            (100, "button", "&Apply", {"enabled": True, "default": False}),
            (102, "button", "Disabled", {"enabled": False}),
            (103, "button", "Hidden", {"visible": False}),
            (IDOK, "button", "&Done", {"default": True}),
            (600, "static", "Page text", {"visible": True}),
            (601, "checkbox", "Page &option", {"check": 0}),
        ]
        for cid, kind, text, extra in expected:
            with self.subTest(control=cid):
                self.assertEqual(len(c[cid]), 1)
                control = c[cid][0]
                self.assertEqual((control["kind"], control["text"]), (kind, text))
                for key, value in extra.items():
                    self.assertEqual(control[key], value, key)
        self.assertEqual(len(page), 1)
        self.assertEqual(page[0]["text"], "Fine && dandy")
        self.assertEqual(c[600][0]["parent"], c[601][0]["parent"])
        self.assertNotEqual(c[600][0]["parent"], frame["hwnd"])
        return c

    def test_reads_and_works_a_dialog_then_leaves_it_every_way(self):
        def cancel_start(f):
            self.d.click(f.first(self.d.message_box, "Fixture Start"), IDCANCEL)
        ways = [  # how the round ends, the fixture's result for it
            (lambda f: self.walk_through(self.open_dialog(f)), 10 + 1 + 2 + 4),
            (cancel_start, 4),
            (lambda f: self.d.close(self.open_dialog(f)), 3),
            (lambda f: self.leave_by_key(f, "alt+f4"), 3),
            (lambda f: self.leave_by_key(f, "escape"), 3),
        ]
        with Fixture("dialog", len(ways)) as f:
            for leave, _ in ways:
                leave(f)
                self.d.wait_gone("Driver Fixture")
            self.assertEqual(f.results(), ([code for _, code in ways], ways[-1][-1]))

    def leave_by_key(self, fixture, key):
        frame = self.open_dialog(fixture)
        focused = self.d.control(frame, 200)
        self.assertTrue(focused["focused"])
        self.assertEqual(self.d.key(frame, key)["hwnd"], focused["hwnd"])

    def walk_through(self, frame):
        self.assertFalse(frame["message_box"])
        self.assertIn(frame["hwnd"], [w["hwnd"] for w in self.d.windows()])
        self.check_controls(frame)
        self.check_position_matches_program(frame)
        self.check_text_round_trips(frame)
        self.check_buttons_states(frame)
        self.check_refusals(frame)
        self.check_modal_question(frame)
        self.check_one_shot_runs(frame)
        self.d.click(frame, "Done")

    def check_one_shot_runs(self, frame):
        once = drv.Driver(session=False)
        self.assertEqual([c["hwnd"] for c in once.controls(frame)],
                         [c["hwnd"] for c in self.d.controls(frame)])
        with self.assertRaises(drv.DriverError) as caught:
            once.wait_window("No Such Window", timeout_ms=300)
        self.assertEqual(caught.exception.returncode, 1)
        self.assertTrue(caught.exception.message.startswith("timed out after 300 ms"))
        self.assertIn('"Driver Fixture"', caught.exception.message)

    def check_position_matches_program(self, frame):
        self.d.click(frame, "&Where")
        where = self.d.control(frame, 501)["text"].split()
        option = self.d.control(frame, 601)
        self.assertEqual([int(v) for v in where],
                         [option["left"], option["top"], option["width"], option["height"]])

    def check_text_round_trips(self, frame):
        texts = ["plain", "tab\there", 'quote " and back\\slash', "\u00e9t\u00e9 \u00fcber",
                 "", "amp & and &&", "--dashes", "x" * 300]
        for n, text in enumerate(texts, start=1):
            with self.subTest(text=text[:20]):
                self.assertEqual(self.d.set_text(frame, 200, text)["text"], text)
                self.d.click(frame, 100)
                self.assertEqual(self.d.control(frame, 501)["text"], text)
                self.assertEqual(self.d.control(frame, 400)["pos"], 100 + 10 * n)
        self.assertEqual(self.d.type_text(frame, 201, "s3cret")["text"], "s3cret")
        lines = "two\nlines, a \\n and a\ttab"
        self.assertEqual(self.d.set_text(frame, 501, lines)["text"], lines)

    def check_buttons_states(self, frame):
        self.assertEqual(self.d.check(frame, 300)["check"], 1)
        self.assertEqual(self.d.check(frame, 300, 0)["check"], 0)
        self.assertEqual(self.d.check(frame, 300, 1)["check"], 1)
        self.assertEqual(self.d.check(frame, 302)["check"], 1)
        self.assertEqual(self.d.control(frame, 301)["check"], 0)
        self.assertEqual(self.d.check(frame, 601)["check"], 1)
        with self.assertRaises(drv.DriverError) as caught:
            self.d.check(frame, 302, 0)  # a radio button is cleared only by its neighbour
        self.assertIn("stays in state 1", caught.exception.message)

    def check_refusals(self, frame):
        for button, reason in [(102, "disabled"), ("Hidden", "not visible"),
                               ("No such button", "no control"), (500, "not a button")]:
            with self.subTest(button=button), self.assertRaises(drv.DriverError) as caught:
                self.d.click(frame, button)
            self.assertEqual(caught.exception.returncode, 1)
            self.assertIn(reason, caught.exception.message)
        with self.assertRaises(drv.DriverError) as caught:
            self.d.key(frame, "hyper")
        self.assertEqual((caught.exception.returncode, caught.exception.message),
                         (2, "unknown key: hyper"))
        with self.assertRaises(drv.DriverError):
            self.d.set_text(frame, 103, "typed into a hidden field")
        self.assertEqual(self.d.set_text(frame, 103, "forced", force=True)["text"], "forced")

    def check_modal_question(self, frame):
        clicked = self.d.click(frame, "Ask")
        self.assertFalse(clicked["settled"])  # the question is still open
        box = self.d.message_box("Fixture Question")
        self.assertEqual(box["owner"], frame["hwnd"])
        self.assertEqual(box["text"], "Do you really want to?\nSecond line")
        self.assertEqual((box["icon"], box["default_id"]), ("exclamation", IDNO))
        self.assertFalse(self.d.info(frame)["enabled"])
        with self.assertRaises(drv.DriverError) as caught:
            self.d.click(frame, "Apply")
        self.assertIn("disabled", caught.exception.message)
        self.d.key(box, "enter")  # the default button, No
        self.d.wait_gone(box)
        self.assertEqual(self.d.control(frame, 501)["text"], "no")
        self.d.click(frame, "Ask")
        self.d.click(self.d.message_box("Fixture Question"), "&Yes")
        self.d.wait_gone("Fixture Question")
        self.assertEqual(self.d.control(frame, 501)["text"], "yes")


class CommandLineTest(DriverTest):
    def test_failures_are_reported(self):
        cases = [  # arguments, options, exit code, part of the message
            (("wait", "=No Such Window"), (), 1, "timed out after 300 ms"),
            (("msgbox", "=No Such Box"), (), 1, "no message box"),
            (("controls", "#0x7FFF0000"), (), 1, "no visible window"),
            (("wait", "#zz"), (), 2, "not a window handle"),
            (("wait", "#0"), (), 2, "not a window handle"),
            (("click", "=x"), (), 2, "wrong number of arguments"),
            (("frobnicate",), (), 2, "unknown command"),
            (("wait", "=x"), ("--bogus",), 2, "unknown option --bogus"),
            (("wait", "=x"), ("--settle", "soon"), 2, "needs milliseconds"),
        ]
        for args, options, code, message in cases:
            with self.subTest(args=args, options=options), self.assertRaises(drv.DriverError) as caught:
                self.d.run(args[0], *args[1:], timeout_ms=300, options=options)
            self.assertEqual(caught.exception.returncode, code)
            self.assertIn(message, caught.exception.message)

    def test_gone_is_immediate_for_an_absent_window(self):
        self.assertEqual(self.d.run("gone", "=No Such Window", timeout_ms=300), [])


def main():
    if not os.environ.get("DISPLAY") and shutil.which("xvfb-run"):
        sys.exit(subprocess.call(["xvfb-run", "-a", sys.executable, *sys.argv]))
    unittest.main()


if __name__ == "__main__":
    main()
