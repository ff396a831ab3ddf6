"""Names and texts beyond ASCII, end to end: a project written in UTF-8 is
built by veltra-pack into code page 1252, the stub installs the files under
their own names, shows a UTF-8 licence with its accents and speaks a shipped
language; a name the code page lacks is refused before anything is written."""
import subprocess
import unittest

import e2e
from wizardkit import WizardTestCase

NAMES = ["résumé.txt", "Übersicht.doc", "naïve café.txt"]
LICENCE = "Lizenz für Ärzte – 2€ pro Gerät.\nSéance à Köln."


class NamesBeyondAsciiTest(WizardTestCase):
    APP = "Démo"

    def build(self, setup, files, package=""):
        """Runs veltra-pack build on a project of [Setup] lines and {stored: content}."""
        for i, content in enumerate(files.values()):
            (self.tmp / ("src%d" % i)).write_bytes(content)
        listing = "".join("%s = src%d\n" % (name, i) for i, name in enumerate(files))
        project = self.tmp / "p.ini"
        project.write_text("[Setup]\nAppName = %s\n%s\n[Package]\nStub = %s\n%s\n[Files]\n%s"
                           % (self.APP, setup, e2e.STUB, package, listing), encoding="utf-8")
        return subprocess.run([str(e2e.PACK), "build", str(project), "-o", str(self.tmp / "Setup.exe")],
                              capture_output=True, text=True)

    def test_accented_names_land_under_their_own_names(self):
        dest = self.tmp / "dest"
        files = {name: ("content of %s\r\n" % name).encode("utf-8") for name in NAMES}
        built = self.build("Unattended = 1\nDestDir = %s\nOverwriteMode = overwrite" % e2e.wine_path(dest),
                           files)
        self.assertEqual(0, built.returncode, built.stderr)
        listing = subprocess.run([str(e2e.PACK), "list", str(self.tmp / "Setup.exe")], capture_output=True,
                                 text=True, check=True).stdout
        for name in NAMES:
            self.assertIn(name, listing)
        self.assertEqual(0, self.finish(self.start(self.tmp / "Setup.exe")))
        self.assertEqual(sorted(NAMES), sorted(p.name for p in dest.iterdir()))
        for name, content in files.items():
            self.assertEqual(content, (dest / name).read_bytes())

    def test_a_name_the_code_page_lacks_is_refused_before_anything_is_written(self):
        built = self.build("Unattended = 1", {"readme.txt": b"x", "日本語.txt": b"y"})
        self.assertEqual(1, built.returncode)
        self.assertIn("p.ini:9: error: the stored name 日本語.txt", built.stderr)
        self.assertIn("(U+65E5) is not in code page 1252", built.stderr)
        self.assertEqual(["p.ini", "src0", "src1"], sorted(p.name for p in self.tmp.iterdir()))

    def test_utf8_licence_shows_its_accents_in_the_shipped_language(self):
        (self.tmp / "licence.txt").write_text(LICENCE, encoding="utf-8")
        built = self.build("LicenseText = licence.txt\nDestDir = %s" % e2e.wine_path(self.tmp / "dest"),
                           {"a.txt": b"a"}, package="Language = german")
        self.assertEqual(0, built.returncode, built.stderr)
        process = self.run_setup(self.tmp / "Setup.exe")
        frame = self.driver.wait_window("Installation von Démo", cls="#32770")
        self.wait_title(frame, "Willkommen bei der Installation von Démo")
        self.click(frame, 1)
        page = self.wait_title(frame, "Lizenzvertrag")
        self.assertEqual(LICENCE.replace("\n", "\r\n"), page["controls"][60]["text"])
        self.assertEqual({"back": ("< &Zurück", True), "next": ("&Ja", True), "cancel": ("&Nein", True)},
                         self.buttons(frame))
        self.click(frame, 2)
        self.answer_box("Installation beenden", "Yes")
        self.expect_exit(process, 0)


if __name__ == "__main__":
    unittest.main()
