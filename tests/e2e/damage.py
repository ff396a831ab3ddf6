"""The damaged-package campaign's parts: packages built by veltra-pack in four
variants, the mutations made of each (named by class, drawn from a seeded
generator), and one unattended run of a mutated package judged for hangs,
crashes, leftover private folders and silent corruption."""
import hashlib
import os
import pathlib
import random
import shutil
import struct
import subprocess
import time

import e2e  # noqa: E402  (puts the driver's folder on the path)
import driver  # noqa: E402

ALLOWED_CODES = {0, 1, 2, 4}  # the stub's own exit codes
RUN_LIMIT_S = 40              # a run still going after this is a hang
PASSWORD = "pw"
DEST = "C:\\veltra-e2e\\damaged"

PROJECT = """[Setup]
AppName = Damage
Unattended = 1
DestDir = {dest}
OverwriteMode = overwrite
[Package]
Stub = {stub}
CabinetLibrary = {cablib}
{extra}[Files]
\\ = files
"""

# name: (extra project lines, password, WINEDLLOVERRIDES, split into volumes)
VARIANTS = {
    "plain": ("", None, None),
    "password": ("Password = %s\n" % PASSWORD, PASSWORD, None),
    "split": ("Compression = stored\nVolumeSize = {volume}\n", None, None),
    "library": ("", None, "cabinet=d"),
}


def payload_files():
    """Three files, one large enough to span volumes."""
    big = bytes((i * 2654435761 >> 13) & 0xFF for i in range(520000))
    return {"a.txt": b"alpha\r\n" * 50, "sub/b.bin": big, "sub/c.txt": b"charlie"}


def build_variant(folder, name, cablib):
    """Setup.exe (and its volumes) of one variant in `folder`."""
    folder.mkdir(parents=True)
    for rel, data in payload_files().items():
        path = folder / "src" / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    extra = VARIANTS[name][0].format(volume=e2e.STUB.stat().st_size + 200 * 1024)
    text = PROJECT.format(dest=DEST, stub=e2e.STUB, cablib=cablib or "none", extra=extra)
    (folder / "p.ini").write_text(text.replace("\\ = files", "\\ = src"))
    subprocess.run([str(e2e.PACK), "build", "p.ini", "-o", "Setup.exe"], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL)
    shutil.rmtree(folder / "src")
    (folder / "p.ini").unlink()


class Layout:
    """Where the blocks and the payload cabinet's areas lie in a built Setup.exe."""

    def __init__(self, data):
        self.base = struct.unpack_from("<i", data, e2e.package_base_field(data))[0]
        lang, _, lib, info = struct.unpack_from("<iiii", data, self.base + 8)
        b = self.base
        self.blocks = {"header": (b, b + 33), "language text": (b + 33, b + 33 + lang),
                       "cabinet library": (b + 33 + lang, b + 33 + lang + lib),
                       "information cabinet": (b + 33 + lang + lib, b + 33 + lang + lib + info)}
        self.blocks["payload"] = (self.blocks["information cabinet"][1], len(data))
        if lib == 0:
            del self.blocks["cabinet library"]
        self.payload = self.blocks["payload"][0]


def cabinet_areas(data, start, scrambled):
    """The areas of the cabinet at `start`, as (first, end) file offsets; read
    through the descrambling when the payload is stored scrambled."""
    head = bytearray(data[start:start + 64])
    if scrambled:
        key = ("RUVEKA" + PASSWORD).encode()
        head = bytearray(c ^ (~key[i % len(key)] & 0xFF) for i, c in enumerate(head))
    size, _, files_at = struct.unpack_from("<III", head, 8)
    folders, files, flags = struct.unpack_from("<HHH", head, 26)
    folders_at = 36 + (4 if flags & 4 else 0)
    if flags & 4:
        return {"cabinet header": (start, start + 36)}
    data_at = struct.unpack_from("<I", head, folders_at)[0] if folders_at + 4 <= len(head) else files_at
    return {"cabinet header": (start, start + 36), "folder entries": (start + folders_at, start + files_at),
            "file entries": (start + files_at, start + data_at), "data blocks": (start + data_at, start + size)}


class Mutation:
    def __init__(self, variant, cls, detail, apply):
        self.variant, self.cls, self.detail, self.apply = variant, cls, detail, apply

    def __str__(self):
        return "%s: %s (%s)" % (self.variant, self.cls, self.detail)


def flip(path, offset, bit):
    data = bytearray(path.read_bytes())
    data[offset] ^= 1 << bit
    path.write_bytes(bytes(data))


def truncate(path, length):
    with open(path, "r+b") as f:
        f.truncate(length)


def set_header_field(path, offset, value):
    data = bytearray(path.read_bytes())
    struct.pack_into("<i", data, offset, value)
    path.write_bytes(bytes(data))


def set_next_name(path, name):
    """Rewrites the next-volume name stored in a (plain) volume's header."""
    data = bytearray(path.read_bytes())
    flags = struct.unpack_from("<H", data, 30)[0]
    at = 36 + (4 if flags & 4 else 0)
    if flags & 1:  # a previous cabinet: its name and disk come first
        for _ in range(2):
            at = data.index(b"\0", at) + 1
    old_end = data.index(b"\0", at)
    assert len(name) == old_end - at, (name, data[at:old_end])
    data[at:old_end] = name.encode()
    path.write_bytes(bytes(data))


def volumes_of(folder):
    return sorted(folder.glob("Setup-*.cab"))


def mutations(variant, folder, rng):
    """One mutation of every class that applies to the variant, offsets drawn from `rng`."""
    setup = folder / "Setup.exe"
    data = setup.read_bytes()
    layout = Layout(data)
    found = []

    def add(cls, detail, apply):
        found.append(Mutation(variant, cls, detail, apply))

    for block, (first, end) in layout.blocks.items():
        if end <= first:
            continue
        cut = rng.randrange(first, end)
        add("truncated in " + block, "cut at %d" % cut, lambda f, cut=cut: truncate(f / "Setup.exe", cut))
        at, bit = rng.randrange(first, end), rng.randrange(8)
        add("bit flip in " + block, "byte %d bit %d" % (at, bit), lambda f, at=at, bit=bit: flip(f / "Setup.exe", at, bit))
    for area, (first, end) in cabinet_areas(data, layout.payload, variant == "password").items():
        if end > first:
            at, bit = rng.randrange(first, end), rng.randrange(8)
            add("bit flip in payload " + area, "byte %d bit %d" % (at, bit),
                lambda f, at=at, bit=bit: flip(f / "Setup.exe", at, bit))
    for field, offset in (("LangTextSize", 8), ("CabLibSize", 16), ("InfoCabSize", 20)):
        for value in (0, 0x7FFFFFFF, -1, -4096):
            add("header %s %s" % (field, "zero" if value == 0 else "huge" if value > 0 else "negative"),
                "%s = %d" % (field, value),
                lambda f, o=offset, v=value: set_header_field(f / "Setup.exe", layout.base + o, v))
    volumes = volumes_of(folder)
    for index, vol in enumerate(volumes):
        name = vol.name
        add("follow-up volume missing", name, lambda f, n=name: (f / n).unlink())
        cut = rng.randrange(0, vol.stat().st_size)
        add("follow-up volume truncated", "%s cut at %d" % (name, cut), lambda f, n=name, c=cut: truncate(f / n, c))
        for area, (first, end) in cabinet_areas(vol.read_bytes(), 0, False).items():
            if end > first:
                at, bit = rng.randrange(first, end), rng.randrange(8)
                add("bit flip in follow-up volume " + area, "%s byte %d bit %d" % (name, at, bit),
                    lambda f, n=name, at=at, bit=bit: flip(f / n, at, bit))
        if index + 1 < len(volumes):
            add("follow-up volume names itself", name, lambda f, n=name: set_next_name(f / n, n))
        if index >= 1 and index + 1 < len(volumes):
            earlier = volumes[index - 1].name
            add("follow-up volume names an earlier one", "%s names %s" % (name, earlier),
                lambda f, n=name, e=earlier: set_next_name(f / n, e))
    if len(volumes) >= 2:
        a, b = volumes[0].name, volumes[1].name

        def swap(f, a=a, b=b):
            (f / a).rename(f / "swap.tmp")
            (f / b).rename(f / a)
            (f / "swap.tmp").rename(f / b)
        add("follow-up volumes swapped", "%s and %s" % (a, b), swap)
    return found


def expected_tree():
    return {rel: hashlib.md5(data).hexdigest() for rel, data in payload_files().items()}


def installed_tree():
    root = e2e.prefix_path(DEST)
    return {p.relative_to(root).as_posix(): hashlib.md5(p.read_bytes()).hexdigest()
            for p in root.rglob("*") if p.is_file()} if root.is_dir() else {}


class Outcome:
    def __init__(self):
        self.code = None
        self.faults = []   # "hang", "crash", "leftover folder", "silent corruption"
        self.boxes = []    # texts of the message boxes answered

    def __str__(self):
        return "exit %s%s%s" % (self.code, "; " + ", ".join(self.faults) if self.faults else "",
                                "; boxes: " + " | ".join(self.boxes) if self.boxes else "")


def answer_windows(d, outcome):
    """Answers what the run shows: the password prompt, message boxes."""
    for w in d.windows():
        caption = w.get("caption") or ""
        if not w.get("visible", True) or w.get("class") != "#32770":
            continue
        try:
            if caption == "Password":
                d.set_text(w, 60, PASSWORD)
                d.click(w, 1)
                continue
            box = d.info(w)
            outcome.boxes.append("%s: %s" % (caption, (box.get("text") or "")[:80]))
            if "Program Error" in caption or "winedbg" in caption.lower():
                outcome.faults.append("crash")
            d.click(w, 1, force=True)
        except driver.DriverError:
            d.close(w)


def run_once(d, setup, overrides):
    """Runs the package unattended and judges the run."""
    outcome = Outcome()
    shutil.rmtree(e2e.prefix_path(DEST), ignore_errors=True)
    before = e2e.work_folders()
    saved = os.environ.get("WINEDLLOVERRIDES")
    if overrides:
        os.environ["WINEDLLOVERRIDES"] = overrides
    try:
        process = driver.launch(str(setup))
    finally:
        if saved is None:
            os.environ.pop("WINEDLLOVERRIDES", None)
        else:
            os.environ["WINEDLLOVERRIDES"] = saved
    deadline = time.monotonic() + RUN_LIMIT_S
    try:
        while True:
            try:
                outcome.code = process.wait(1.5)
                break
            except subprocess.TimeoutExpired:
                if time.monotonic() > deadline:
                    outcome.faults.append("hang")
                    break
                answer_windows(d, outcome)
    finally:
        e2e.stop_process(process)
    if outcome.code is not None and outcome.code not in ALLOWED_CODES and "crash" not in outcome.faults:
        outcome.faults.append("crash")
    left = e2e.work_folders() - before
    if left:
        outcome.faults.append("leftover folder")
        for name in left:
            shutil.rmtree(e2e.wine_temp_folder() / name, ignore_errors=True)
    if outcome.code == 0 and installed_tree() != expected_tree():
        outcome.faults.append("silent corruption")
    return outcome


def disable_crash_dialog(on):
    """Without Wine's crash dialog a crash ends the run at once with the
    exception's code, which the exit-code check catches."""
    key = "HKCU\\Software\\Wine\\WineDbg"
    if on:
        e2e.wine("reg", "add", key, "/v", "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f")
    else:
        e2e.wine("reg", "delete", key, "/v", "ShowCrashDialog", "/f", check=False)


def fresh_copy(built, scratch):
    shutil.rmtree(scratch, ignore_errors=True)
    shutil.copytree(built, scratch)
    return scratch


def draw(variants_built, rng, runs):
    """`runs` mutations: every class of every variant once, then more drawn at random."""
    chosen = []
    for variant, folder in variants_built.items():
        chosen += mutations(variant, folder, rng)
    pool_round = 0
    while len(chosen) < runs:
        pool_round += 1
        variant = rng.choice(sorted(variants_built))
        candidates = mutations(variant, variants_built[variant], rng)
        chosen.append(rng.choice(candidates))
    return chosen[:max(runs, 0)] if runs < len(chosen) and runs > 0 else chosen
