"""Packages in the Windows ANSI code pages beyond 1252, end to end: a project
in UTF-8 built for a code page, run under Wine in a locale of that code page
(Wine takes its ANSI code page from LC_ALL per process), installs its files
under their own names, names that hold two-byte characters whose second byte
is a backslash included; the wizard shows the package's texts. On a system of
another code page the package warns, and a run without windows stops."""
import contextlib
import json
import os
import shutil
import subprocess
import unittest

import e2e
from e2e import driver
from wizardkit import WizardTestCase

# Wine labels a message box's buttons in the locale's language: they are
# pressed by id.
IDOK, IDCANCEL, IDYES = 1, 2, 6

# code page, a locale whose ANSI code page it is, the application's name, and
# stored names (a folder in each, so that folder creation splits them).
PACKAGES = [
    (1251, "ru_RU.UTF-8", "Демо", ["Привет.txt", "Папка\\Файл ёж.txt"]),
    (1250, "pl_PL.UTF-8", "Zażółć", ["gęślą jaźń.txt", "Łódź\\Żółw.txt"]),
    # 表 is 0x95 0x5C and ソ 0x83 0x5C: their second byte is "\".
    (932, "ja_JP.UTF-8", "デモ", ["表.txt", "ソフト\\予定表\\メモ.txt", "ソ\\a.txt"]),
    (936, "zh_CN.UTF-8", "演示", ["中文.txt", "说明\\文件.txt"]),
    (1253, "el_GR.UTF-8", "Δοκιμή", ["Αρχείο.txt", "Φάκελος\\ωμέγα.txt"]),
]


class CodePagesTest(WizardTestCase):
    def build(self, app, code_page, names, setup=""):
        for i, name in enumerate(names):
            (self.tmp / ("src%d" % i)).write_bytes(("content of %s\r\n" % name).encode("utf-8"))
        listing = "".join("%s = src%d\n" % (name, i) for i, name in enumerate(names))
        project = self.tmp / "p.ini"
        project.write_text("[Setup]\nAppName = %s\nDestDir = %s\nOverwriteMode = overwrite\n%s\n"
                           "[Package]\nStub = %s\nCodePage = %d\n[Files]\n%s"
                           % (app, e2e.wine_path(self.tmp / "dest"), setup, e2e.STUB, code_page, listing),
                           encoding="utf-8")
        built = subprocess.run([str(e2e.PACK), "build", str(project), "-o", str(self.tmp / "Setup.exe")],
                               capture_output=True, text=True)
        self.assertEqual(0, built.returncode, built.stderr)
        return self.tmp / "Setup.exe"

    @contextlib.contextmanager
    def driver_in(self, locale):
        """The test driver reads window texts through the ANSI functions, so
        for texts beyond 1252 it runs in the stub's locale meanwhile."""
        saved = dict(os.environ)
        os.environ["LC_ALL"] = locale
        try:
            self.driver = driver.Driver()
        finally:
            os.environ.clear()
            os.environ.update(saved)
        try:
            yield
        finally:
            self.driver.stop()
            del self.driver

    def installed(self):
        dest = self.tmp / "dest"
        return sorted(str(p.relative_to(dest)).replace("/", "\\") for p in dest.rglob("*") if p.is_file())

    def test_each_code_page_installs_its_names_under_its_own_locale(self):
        for code_page, locale, app, names in PACKAGES:
            with self.subTest(code_page=code_page):
                for leftover in ("dest", "extracted"):
                    shutil.rmtree(self.tmp / leftover, ignore_errors=True)
                setup = self.build(app, code_page, names, "Unattended = 1")
                info = json.loads(subprocess.run([str(e2e.PACK), "info", "--json", str(setup)],
                                                 capture_output=True, text=True, check=True).stdout)
                self.assertEqual(code_page, info["blocks"]["languageText"]["codePage"])
                self.assertEqual(app, info["setupScript"]["AppName"])
                self.assertEqual(sorted(names), sorted(f["name"] for f in info["files"]))
                self.expect_exit(self.run_setup(setup, {"LC_ALL": locale}), 0)
                self.assertEqual(sorted(names), self.installed())
                for name in names:
                    self.assertEqual(("content of %s\r\n" % name).encode("utf-8"),
                                     (self.tmp / "dest" / name.replace("\\", "/")).read_bytes())
                extracted = self.tmp / "extracted"
                subprocess.run([str(e2e.PACK), "extract", str(setup), "--to", str(extracted)],
                               capture_output=True, check=True)
                self.assertEqual(sorted(n.replace("\\", "/") for n in names),
                                 sorted(str(p.relative_to(extracted)) for p in extracted.rglob("*")
                                        if p.is_file()))

    def test_the_wizard_shows_the_package_texts_in_its_code_page(self):
        for code_page, locale, app, names in PACKAGES[:3]:
            with self.subTest(code_page=code_page):
                self.APP = app
                process = self.run_setup(self.build(app, code_page, names), {"LC_ALL": locale})
                with self.driver_in(locale):
                    frame = self.frame()
                    self.wait_title(frame, "Welcome to %s Setup" % app)
                    self.assertIn("Setup will install %s on your computer." % app,
                                  self.page(frame)["controls"][101]["text"])
                    self.click(frame, 2)
                    self.answer_box("Exit Setup", IDYES)
                self.expect_exit(process, 0)

    def test_another_code_page_warns_and_a_windowless_run_stops(self):
        cases = [
            # code page, system locale, unattended, the box's button, exit code
            (1251, "pl_PL.UTF-8", False, IDCANCEL, 2),
            (932, "ru_RU.UTF-8", False, IDOK, 0),
            (1251, "pl_PL.UTF-8", True, None, 2),
            (1250, "C.UTF-8", True, None, 2),
        ]
        packages = {p[0]: p for p in PACKAGES}
        for code_page, locale, unattended, button, code in cases:
            with self.subTest(code_page=code_page, locale=locale, unattended=unattended):
                # An ASCII name, so that the frame can be found on the wrong system.
                setup = self.build("Demo", code_page, packages[code_page][3],
                                   "Unattended = 1" if unattended else "")
                process = self.run_setup(setup, {"LC_ALL": locale})
                if button:
                    box = self.driver.message_box("Veltra")
                    system = {"pl_PL.UTF-8": 1250, "ru_RU.UTF-8": 1251}[locale]
                    self.assertIn("made for Windows code page %d; this system uses code page %d."
                                  % (code_page, system), box["text"])
                    self.assertIn("Go on anyway?", box["text"])
                    self.driver.click(box, button)
                if button == IDOK:
                    frame = self.driver.wait_window("Demo Setup", cls="#32770")
                    self.click(frame, 2)
                    self.answer_box("Exit Setup", IDYES)
                self.expect_exit(process, code)
                self.assertFalse((self.tmp / "dest").exists())


if __name__ == "__main__":
    unittest.main()
