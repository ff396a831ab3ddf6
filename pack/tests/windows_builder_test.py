"""The builder built for Windows, run under Wine, writes the same bytes as the
host builder on the same projects, and reads them back the same way.

Environment (set by ctest): VELTRA_PACK_HOST, VELTRA_PACK_WINDOWS (the .exe),
VELTRA_WINE (scripts/wine-run.sh).
"""
import json
import os
import pathlib
import random
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

HOST = os.environ.get("VELTRA_PACK_HOST", "")
WINDOWS = os.environ.get("VELTRA_PACK_WINDOWS", "")
WINE = os.environ.get("VELTRA_WINE", "wine")
TAG = b"VELTRA:PKGBASE\xa5\x00"


def bitmap():
    header = b"BM" + (58).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
    info = (40).to_bytes(4, "little") + (1).to_bytes(4, "little") * 2 + b"\x01\x00\x18\x00" + bytes(24)
    return header + info + b"\x00\x00\xff\x00"


def make_tree(root):
    """A project tree with what differs between hosts if anything does: nested
    folders, a read-only file, a dot file, names that sort differently by
    case, names beyond ASCII (UTF-8 on Linux, the ANSI code page through
    Windows' A functions), and line ends of both kinds."""
    rng = random.Random(5)
    files = root / "files"
    (files / "Docs" / "deep").mkdir(parents=True)
    (files / "docs2").mkdir()
    (files / "readme.txt").write_bytes(b"Read me\nsecond line\n")
    (files / "Docs" / "guide.txt").write_bytes(b"guide\r\n" * 500)
    (files / "Docs" / "deep" / "data.bin").write_bytes(bytes(rng.getrandbits(8) for _ in range(400000)))
    (files / "docs2" / "B.txt").write_bytes(b"B")
    (files / "docs2" / "a.txt").write_bytes(b"a")
    (files / "Übersicht").mkdir()
    (files / "Übersicht" / "résumé.txt").write_bytes(b"CV")
    (files / ".config").write_bytes(b"hidden on both hosts")
    locked = files / "locked.txt"
    locked.write_bytes(b"read-only")
    locked.chmod(0o444)
    for i, path in enumerate(sorted(files.rglob("*"))):
        if path.is_file():
            os.utime(path, (1600000000 + i * 3601, 1600000000 + i * 3601))
    (root / "side.bmp").write_bytes(bitmap())
    (root / "license.txt").write_bytes(b"\n\nLicence\nterms\n")
    (root / "stub.exe").write_bytes(b"MZ" + bytes(3000) + TAG + bytes(4) + bytes(2000))
    (root / "lib.dll").write_bytes(b"MZ" + b"FDICopy FDICreate " * 3000)


def icon_file(sizes):
    """An .ico of 32-bit bitmaps, one of each size."""
    directory = struct.pack("<HHH", 0, 1, len(sizes))
    images = [struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 32, 0, 0, 0, 0, 0, 0) + bytes(4 * s * s + s * 4)
              for s in sizes]
    offset = len(directory) + 16 * len(sizes)
    for s, image in zip(sizes, images):
        directory += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


PROJECT = """[Setup]
AppName = Same Bytes
Unattended = 0
DestDir = <PROGRAM FILES>\\Same
LicenseText = license.txt
[Package]
Stub = stub.exe
CabinetLibrary = lib.dll
SidePicture = side.bmp
HeaderPicture = side.bmp
{package}
[Files]
\\ = files
<SYS>\\same.ini = files/readme.txt
"""

VARIANTS = {
    "single": "",
    "stored": "Compression = stored",
    "split-password": "VolumeSize = 160K\nCompressionLevel = 9\nPassword = Wine & Linux",
    "lzx-split": "Compression = lzx\nLzxWindow = 16\nVolumeSize = 160K",
}


# Projects in other code pages, with stored names that test the conversion
# where glibc's tables and Windows' differ: 950 writes box drawing in its
# second form, 1255 holds a point glibc lacks, 932 and 936 have two-byte
# characters whose second byte is a backslash or a letter.
CODE_PAGE_PROJECT = """[Setup]
AppName = {app}
DestDir = <PROGRAM FILES>\\{app}
[Package]
Stub = stub.exe
CabinetLibrary = lib.dll
CodePage = {code_page}
[Files]
{first} = files/readme.txt
{second} = files/docs2/a.txt
"""

CODE_PAGES = [
    (1251, "Демо", "Привет.txt", "Папка\\Ёж.txt"),
    (1250, "Zażółć", "gęślą.txt", "Łódź\\jaźń.txt"),
    (932, "デモ", "表.txt", "ソフト\\予定表\\ｱ.txt"),
    (936, "演示", "中文€.txt", "说明\\文件.txt"),
    (949, "데모", "한국어.txt", "폴더\\파일.txt"),
    (950, "示範", "中文═.txt", "資料夾\\檔案╞.txt"),
    (1255, "דמו", "שלוםֺ.txt", "תיקייה\\קובץ.txt"),
    # 1258 holds ư and ê whole and the dot below as a combining mark.
    (1258, "Thư", "tê\u0323p.txt", "thư mu\u0323c\\đ.txt"),
    (874, "ทดสอบ", "ไฟล์.txt", "โฟลเดอร์\\ก.txt"),
]

# Single cabinets of several folders, from several threads on Windows and one
# on Linux.
THREADED = {
    "mszip": "",
    "lzx": "Compression = lzx\nLzxWindow = 16",
}


def most_folders(data):
    """The largest folder count of the cabinets in a file (the payload's, not
    the setup script's)."""
    counts, at = [0], data.find(b"MSCF")
    while at >= 0:
        counts.append(struct.unpack_from("<H", data, at + 26)[0])
        at = data.find(b"MSCF", at + 4)
    return max(counts)


def outputs(folder):
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir()) if p.is_file()}


class WindowsBuilderTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not (os.path.isfile(HOST) and os.path.isfile(WINDOWS)):
            raise unittest.SkipTest("VELTRA_PACK_HOST and VELTRA_PACK_WINDOWS must name the built programs")

    def setUp(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="veltra-winpack-"))
        make_tree(self.root)

    def tearDown(self):
        (self.root / "files" / "locked.txt").chmod(0o644)
        shutil.rmtree(self.root, ignore_errors=True)

    def run_pack(self, windows, *args):
        command = [WINE, WINDOWS] if windows else [HOST]
        environment = dict(os.environ, VELTRA_TEST_PW="Wine & Linux")
        done = subprocess.run(command + list(args), cwd=self.root, capture_output=True, text=True, errors="replace",
                              timeout=600, env=environment)
        return done.returncode, done.stdout, done.stderr

    def build_both(self, project, linux_args=(), windows_args=()):
        (self.root / "p.ini").write_text(project, newline="\r\n")
        results = {}
        for name, windows, args in (("linux", False, linux_args), ("windows", True, windows_args)):
            (self.root / name).mkdir()
            code, out, err = self.run_pack(windows, "build", "p.ini", "-o", name + "/Setup.exe", *args)
            self.assertEqual(0, code, name + ": " + out + err)
            results[name] = outputs(self.root / name)
        return results

    def test_same_bytes_when_branded(self):
        # The resources are rewritten by the builder's own code on both hosts.
        stub = pathlib.Path(WINDOWS).resolve().parent.parent / "stub" / "veltra-stub.exe"
        if not stub.is_file():
            self.skipTest("no win32 stub beside the Windows builder's tree: %s" % stub)
        shutil.copyfile(stub, self.root / "real.exe")
        (self.root / "app.ico").write_bytes(icon_file([16, 32]))
        project = PROJECT.replace("Stub = stub.exe", "Stub = real.exe").format(package=(
            "Icon = app.ico\nCompanyName = Zwölf Böxe\nFileVersion = 1.2.3.4\n"
            "ExecutionLevel = highestAvailable"))
        results = self.build_both(project)
        self.assertEqual(results["linux"], results["windows"])
        self.assertIn(b"highestAvailable", results["linux"]["Setup.exe"])

    def test_same_bytes_for_every_variant(self):
        for variant, package in VARIANTS.items():
            with self.subTest(variant):
                for name in ("linux", "windows"):
                    shutil.rmtree(self.root / name, ignore_errors=True)
                results = self.build_both(PROJECT.format(package=package))
                self.assertEqual(sorted(results["linux"]), sorted(results["windows"]))
                for file, data in results["linux"].items():
                    self.assertTrue(data == results["windows"][file], variant + ": " + file + " differs")
                if variant == "split-password":
                    self.assertIn("Setup-3.cab", results["linux"])
                if variant == "lzx-split":  # LZX blocks split across volumes read back whole
                    self.assertIn("Setup-2.cab", results["linux"])
                    code, out, err = self.run_pack(False, "verify", "linux/Setup.exe")
                    self.assertEqual(0, code, out + err)

    def test_installed_tree_is_found_at_lib_veltra(self):
        """The Windows builder installed as bin\\veltra-pack.exe takes the stub
        and library from ..\\lib\\veltra\\, and without them names only its own
        folders, never the build tree's."""
        tree = pathlib.Path(WINDOWS).resolve().parent.parent
        stub, library = tree / "stub" / "veltra-stub.exe", tree / "fdi" / "cabinet-veltra.dll"
        if not (stub.is_file() and library.is_file()):
            self.skipTest("the win32 tree's stub and library are not built")
        prefix = self.root / "prefix"
        (prefix / "bin").mkdir(parents=True)
        tool = prefix / "bin" / "veltra-pack.exe"
        shutil.copyfile(WINDOWS, tool)
        (self.root / "q.ini").write_text("[Setup]\nAppName = Installed\n[Files]\nfiles/readme.txt\n")

        def build(out):
            done = subprocess.run([WINE, str(tool), "build", "q.ini", "-o", out], cwd=self.root, capture_output=True,
                                  text=True, errors="replace", timeout=600)
            return done.returncode, done.stdout + done.stderr

        code, said = build("none/Setup.exe")
        self.assertEqual(1, code, said)
        stub_lines = said.split("Looked for:", 1)[1].split("error", 1)[0]
        looked = re.findall(r"(?m)^  (\S.*?)\r?$", stub_lines)
        self.assertEqual(2, len(looked), said)
        self.assertTrue(looked[0].endswith("\\prefix\\bin\\veltra-stub.exe"), looked)
        self.assertTrue(looked[1].endswith("\\prefix\\bin\\..\\lib\\veltra\\veltra-stub.exe"), looked)

        (prefix / "lib" / "veltra").mkdir(parents=True)
        shutil.copyfile(stub, prefix / "lib" / "veltra" / "veltra-stub.exe")
        shutil.copyfile(library, prefix / "lib" / "veltra" / "cabinet-veltra.dll")
        code, said = build("installed/Setup.exe")
        self.assertEqual(0, code, said)
        code, out, err = self.run_pack(False, "verify", "installed/Setup.exe")
        self.assertEqual(0, code, out + err)

    def test_same_bytes_in_every_code_page(self):
        for code_page, app, first, second in CODE_PAGES:
            with self.subTest(code_page=code_page):
                for name in ("linux", "windows"):
                    shutil.rmtree(self.root / name, ignore_errors=True)
                results = self.build_both(CODE_PAGE_PROJECT.format(code_page=code_page, app=app, first=first,
                                                                   second=second))
                self.assertTrue(results["linux"]["Setup.exe"] == results["windows"]["Setup.exe"],
                                "%d: Setup.exe differs" % code_page)
                listings = []
                for windows in (False, True):
                    code, out, err = self.run_pack(windows, "list", "--json", "windows/Setup.exe")
                    self.assertEqual(0, code, out + err)
                    listings.append(sorted(f["name"] for f in json.loads(out)["files"]))
                self.assertEqual([sorted([first, second])] * 2, listings)

    def test_same_bytes_from_one_and_from_three_threads(self):
        rng = random.Random(7)
        (self.root / "files" / "many").mkdir()
        for i in range(8):
            data = bytes(rng.getrandbits(8) for _ in range(60000)) if i % 2 else b"line %d\r\n" % i * 9000
            (self.root / "files" / "many" / ("part%d.bin" % i)).write_bytes(data)
        for variant, package in THREADED.items():
            with self.subTest(variant):
                for name in ("linux", "windows"):
                    shutil.rmtree(self.root / name, ignore_errors=True)
                results = self.build_both(PROJECT.format(package=package),
                                          ("--threads", "1", "--folder-size", "96K"),
                                          ("--threads", "3", "--folder-size", "96K"))
                self.assertEqual(["Setup.exe"], sorted(results["linux"]))
                self.assertTrue(results["linux"]["Setup.exe"] == results["windows"]["Setup.exe"], variant)
                self.assertGreaterEqual(most_folders(results["linux"]["Setup.exe"]), 4)
                code, out, err = self.run_pack(False, "verify", "windows/Setup.exe")
                self.assertEqual(0, code, out + err)

    def test_windows_build_reads_back_like_the_host_build(self):
        results = self.build_both(PROJECT.format(package=VARIANTS["split-password"]))
        self.assertIn("Setup-2.cab", results["windows"])
        listings = []
        for windows in (False, True):
            code, out, err = self.run_pack(windows, "list", "windows/Setup.exe", "--password", "Wine & Linux")
            self.assertEqual(0, code, out + err)
            listings.append(out.replace("\r\n", "\n"))
        self.assertEqual(listings[0], listings[1])
        self.assertRegex(listings[0], r"R--A +9  locked\.txt")  # read-only
        self.assertRegex(listings[0], r"-H-A +20  \.config")     # a dot file is hidden
        code, out, err = self.run_pack(True, "verify", "windows/Setup.exe", "--password", "Wine & Linux")
        self.assertEqual(0, code, out + err)

    def test_windows_extract_writes_what_the_host_does_and_keeps_files(self):
        self.build_both(PROJECT.format(package=VARIANTS["split-password"]))
        trees = []
        for name, windows in (("out-linux", False), ("out-windows", True)):
            code, out, err = self.run_pack(windows, "extract", "windows/Setup.exe", "--to", name,
                                           "--password-env", "VELTRA_TEST_PW")
            self.assertEqual(0, code, out + err)
            root = self.root / name
            trees.append({str(p.relative_to(root)).lower(): p.read_bytes()
                          for p in sorted(root.rglob("*")) if p.is_file()})
        self.assertEqual(trees[0], trees[1])
        self.assertIn("sys/same.ini", trees[0])
        # A second run keeps what is there; --overwrite replaces it, never the package.
        code, out, err = self.run_pack(True, "extract", "windows/Setup.exe", "--to", "out-windows",
                                       "--password-env", "VELTRA_TEST_PW")
        self.assertEqual(1, code, out + err)
        self.assertIn("kept as it was", err)
        code, out, err = self.run_pack(True, "extract", "windows/Setup.exe", "--to", "out-windows",
                                       "--password-env", "VELTRA_TEST_PW", "--overwrite")
        self.assertEqual(0, code, out + err)

    def test_same_errors_and_nothing_written(self):
        (self.root / "p.ini").write_text(PROJECT.format(package="Colour = red"), newline="\r\n")
        for windows in (False, True):
            code, out, err = self.run_pack(windows, "build", "p.ini")
            self.assertEqual(1, code, out + err)
            self.assertIn("p.ini:11: error: unknown key Colour in [Package]", err)
            self.assertFalse((self.root / "Setup.exe").exists())


if __name__ == "__main__":
    unittest.main()
