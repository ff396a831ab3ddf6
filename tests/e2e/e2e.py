"""Shared ground of the end-to-end tests: packages made with veltra-pack from
the stub as built, run under Wine, watched and answered through the test
driver, and the Wine temporary folder checked for what a run leaves behind.

Environment (set by ctest): VELTRA_STUB, VELTRA_PACK, VELTRA_DRIVER,
WINEPREFIX. Tests that look at the temporary folder hold ctest's resource
lock "wine-temp", so no other run makes VELTRA folders meanwhile.
"""
import contextlib
import hashlib
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "driver"))
import cabfile  # noqa: E402
import driver  # noqa: E402

STUB = pathlib.Path(os.environ.get("VELTRA_STUB", ""))
PACK = pathlib.Path(os.environ.get("VELTRA_PACK", ""))
PREFIX = pathlib.Path(os.environ.get("WINEPREFIX", os.path.expanduser("~/.veltra-wine")))
TAG = b"VELTRA:PKGBASE\xa5\x00"
RUN_TIMEOUT_S = 180


def default_lang_lines():
    """The 82 built-in messages, as veltra-pack writes them."""
    return [line for line in run_pack_default_lang().split(b"\r\n")[:82]]


def run_pack_default_lang():
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        cab = make_cabinet(tmp, {"~DAT1.": b"x\r\n"})
        out = tmp / "Setup.exe"
        pack_assemble(out, cab, cab)
        data = out.read_bytes()
        base = struct.unpack_from("<i", data, data.index(TAG) + len(TAG))[0]
        size = struct.unpack_from("<i", data, base + 8)[0]
        return data[base + 33:base + 33 + size]


def make_cabinet(folder, files):
    """A plain cabinet of the given {name: bytes}, written by gcab."""
    folder = pathlib.Path(folder)
    src = folder / ("cab-src-%d" % len(list(folder.iterdir())))
    src.mkdir()
    for name, data in files.items():
        (src / name).write_bytes(data)
    cab = folder / (src.name + ".cab")
    subprocess.run(["gcab", "-c", "-n", str(cab), *sorted(files)], cwd=src, check=True)
    return cab


def pack_assemble(out, info, payload, lang=None, password=None):
    args = [str(PACK), "assemble", "--stub", str(STUB), "--info", str(info),
            "--payload", str(payload), "--out", str(out)]
    if lang is not None:
        args += ["--lang", str(lang)]
    if password is not None:
        args += ["--password", password]
    subprocess.run(args, check=True)
    return out


def setup_script(app="Demo", unattended=True, min_free=0, dest="C:\\veltra-e2e\\dest",
                 overwrite=0, unpack_page=False, launch="", readme_file="", run="", params="",
                 question="", final="", readme=(), licence=()):
    """The bytes of a setup script "~DAT1." with the given fields."""
    lines = [app, "", "1" if unattended else "0", str(min_free), dest, str(overwrite),
             "1" if unpack_page else "0", "", launch, readme_file, run, params, question, final,
             *readme, "\x01\x01\x01", *licence, "\x03\x03\x03"]
    return "".join(line + "\r\n" for line in lines).encode("latin-1")


def build_package(folder, script, payload_entries, password=None):
    """Setup.exe in `folder` around the stub: the script (bytes) in the
    information cabinet and the entries (see cabfile) in the payload."""
    folder = pathlib.Path(folder)
    stamp = cabfile.dos_stamp(2021, 6, 1, 12, 0, 0)
    info = cabfile.write_cabinet(folder / "info.cab", [("~DAT1.", script, stamp, 0x20)])
    payload = cabfile.write_cabinet(folder / "payload.cab", payload_entries)
    return pack_assemble(folder / "Setup.exe", info, payload, password=password)


def prefix_path(windows_path):
    """Where a C:\\ path of the prefix lies on the host."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return PREFIX / "drive_c" / windows_path[3:].replace("\\", "/")


def dos_attributes(windows_path):
    """The attribute letters that Wine's attrib shows for a file."""
    out = wine("cmd", "/c", "attrib", windows_path).stdout.strip()
    return set(out[:out.find(":") - 1].split()) if ":" in out else set()


def package_base_field(data):
    """Offset of the PackageBase value in a built Setup.exe."""
    return data.index(TAG) + len(TAG)


def wine_temp_folder():
    """The folder that GetTempPathA gives inside the prefix."""
    users = PREFIX / "drive_c" / "users"
    for candidate in sorted(users.glob("*/Temp")) + sorted(users.glob("*/AppData/Local/Temp")):
        if candidate.is_dir():
            return candidate
    raise FileNotFoundError("no Temp folder in " + str(users))


def work_folders():
    return {p.name for p in wine_temp_folder().glob("VELTRA*")}


def stop_process(process):
    """Ends a run that is still going (a failed test) and waits until it is gone,
    so that its windows cannot be taken for the next run's."""
    if process.poll() is None:
        process.kill()
    process.wait()


def wine(*args, check=True):
    return subprocess.run(driver.wine_command(*args), env=driver.wine_environment(), check=check,
                          capture_output=True, text=True)


def user_environment():
    """The values under HKCU\\Environment as {name: (type, data)}."""
    values = {}
    for line in wine("reg", "query", "HKCU\\Environment").stdout.splitlines():
        parts = line.strip().split(None, 2)
        if len(parts) == 3 and parts[1].startswith("REG_"):
            values[parts[0]] = (parts[1], parts[2])
    return values


def set_user_environment(values):
    """Sets (type, data) values, or deletes those given as None."""
    for name, value in values.items():
        if value is None:
            wine("reg", "delete", "HKCU\\Environment", "/v", name, "/f", check=False)
        else:
            wine("reg", "add", "HKCU\\Environment", "/v", name, "/t", value[0], "/d", value[1], "/f")


def wine_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


class E2ETestCase(unittest.TestCase):
    """A scratch folder per test and a driver session per test class."""

    @classmethod
    def setUpClass(cls):
        if not STUB.is_file() or not PACK.is_file():
            raise unittest.SkipTest("VELTRA_STUB and VELTRA_PACK must name the built programs")
        cls.driver = driver.Driver()

    @classmethod
    def tearDownClass(cls):
        cls.driver.stop()

    def setUp(self):
        self.tmp = pathlib.Path(tempfile.mkdtemp(prefix="veltra-e2e-"))
        self.folders_before = work_folders()

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, setup_exe):
        return driver.launch(str(setup_exe))

    @contextlib.contextmanager
    def running(self, setup_exe):
        """Starts the package; whatever happens in the block, it is gone after."""
        process = self.start(setup_exe)
        try:
            yield process
        finally:
            stop_process(process)

    def finish(self, process):
        try:
            return process.wait(RUN_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            shown = ["%s %r" % (w.get("class"), w.get("caption")) for w in self.driver.windows()]
            self.fail("the run did not end within %d s; windows on screen: %s"
                      % (RUN_TIMEOUT_S, "; ".join(shown) or "none"))

    def new_work_folders(self):
        return work_folders() - self.folders_before

    def expect_box_then_exit(self, setup_exe, caption, text, code):
        """Runs the package, reads the one box it shows, answers OK and checks the exit."""
        with self.running(setup_exe) as process:
            box = self.driver.message_box(caption)
            self.assertEqual(caption, box["caption"])
            self.assertEqual(text, box["text"])
            self.driver.click(box, "OK")
            self.assertEqual(code, self.finish(process))
        return box


class DestinationTestCase(E2ETestCase):
    """A destination of the test's own under C:\\veltra-e2e, empty before and
    removed after, and WINEDLLOVERRIDES as it was before the test."""

    def setUp(self):
        super().setUp()
        self.dest = "C:\\veltra-e2e\\" + self._testMethodName
        shutil.rmtree(prefix_path(self.dest), ignore_errors=True)
        self.saved_overrides = os.environ.get("WINEDLLOVERRIDES")

    def tearDown(self):
        if self.saved_overrides is None:
            os.environ.pop("WINEDLLOVERRIDES", None)
        else:
            os.environ["WINEDLLOVERRIDES"] = self.saved_overrides
        shutil.rmtree(prefix_path(self.dest), ignore_errors=True)
        super().tearDown()

    def installed_digests(self):
        """Name and MD5 of every file under the destination."""
        root = prefix_path(self.dest)
        return {p.name: hashlib.md5(p.read_bytes()).hexdigest() for p in root.rglob("*") if p.is_file()}

    def build_project(self, folder, project, files):
        """Writes `files` into folder/files and `project` (a project file whose
        [Files] section takes that folder) beside them, builds it and returns
        the Setup.exe."""
        (folder / "files").mkdir(parents=True)
        for stored, data in files.items():
            (folder / "files" / stored).write_bytes(data)
        (folder / "p.ini").write_text(project)
        built = subprocess.run([str(PACK), "build", "p.ini"], cwd=folder, capture_output=True, text=True)
        self.assertEqual(0, built.returncode, built.stdout + built.stderr)
        return folder / "Setup.exe"
