"""The damaged-package campaign's parts: packages built once by veltra-pack in
four variants and held in memory, the mutations made of them (named by
category and class, offsets drawn from a seeded generator), and one unattended
run of a mutated copy judged for hangs, crashes, what it leaves behind and
silent corruption.

A run costs one start of the stub under Wine (about a second of processor
time through qemu-user, several seconds of wall time on a busy machine); the
packages are never rebuilt, the copies are written afresh from memory, and one
driver session keeps the prefix's Wine server and desktop alive throughout."""
import collections
import hashlib
import os
import shutil
import struct
import subprocess
import time

import e2e  # noqa: E402  (puts the driver's folder on the path)
import driver  # noqa: E402

ALLOWED_CODES = {0, 1, 2, 4}  # the stub's own exit codes
PASSWORD = "pw"
DEST = "C:\\veltra-e2e\\damaged"
KEY_PREFIX = "RUVEKA"
# A run still going after max(floor, factor x the slowest clean run) is a hang.
HANG_FLOOR_S = 60  # a busy machine has taken 24 s over a run that takes 4
HANG_FACTOR = 4
POLL_S = 0.3

FAULTS = ("hang", "crash", "leftover folder", "library copy left", "file outside destination",
          "silent corruption")
PLURALS = dict(zip(FAULTS, ("hangs", "crashes", "leftover folders", "library copies left",
                            "files outside destination", "silent corruptions")))
CATEGORIES = ("truncation", "bit flip", "header size", "volume")

PROJECT = """[Setup]
AppName = Damage
Unattended = 1
DestDir = {dest}
OverwriteMode = overwrite
[Package]
Stub = {stub}
CabinetLibrary = {cablib}
{extra}[Files]
\\ = src
"""

Variant = collections.namedtuple("Variant", "extra password overrides")
VARIANTS = {
    "plain": Variant("", None, None),
    "password": Variant("Password = %s\n" % PASSWORD, PASSWORD, None),
    # Small volumes, so that the set has four follow-up volumes and one can name an earlier one.
    "split": Variant("Compression = stored\nVolumeSize = {volume}\n", None, None),
    # The system's cabinet library disabled: the stub loads block 3.
    "library": Variant("", None, "cabinet=d"),
    # LZX at its largest window, read by our own library: blocks over frames,
    # aligned and stored blocks under damage.
    "lzx": Variant("Compression = lzx\nLzxWindow = 21\n", None, "cabinet=d"),
}
BUILD_TIME = 1622548800  # 2021-06-01 12:00 UTC
VOLUME_ROOM = 140 * 1024  # the builder wants 128 KiB of payload in Setup.exe


def payload_files():
    """Three files, one large enough to span volumes."""
    big = bytes((i * 2654435761 >> 13) & 0xFF for i in range(1000000))
    return {"a.txt": b"alpha\r\n" * 50, "sub/b.bin": big, "sub/c.txt": b"charlie"}


PAYLOAD = payload_files()
EXPECTED_TREE = {rel: hashlib.md5(data).hexdigest() for rel, data in PAYLOAD.items()}


def build_variant(folder, name, cablib):
    """Setup.exe (and its volumes) of one variant, as {file name: bytes}."""
    folder.mkdir(parents=True)
    for rel, data in PAYLOAD.items():
        path = folder / "src" / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    extra = VARIANTS[name].extra.format(volume=e2e.STUB.stat().st_size + VOLUME_ROOM)
    text = PROJECT.format(dest=DEST, stub=e2e.STUB, cablib=cablib or "none", extra=extra)
    (folder / "p.ini").write_text(text)
    for path in folder.rglob("*"):  # the builder stamps files with their times: one build, one package
        os.utime(path, (BUILD_TIME, BUILD_TIME))
    subprocess.run([str(e2e.PACK), "build", "p.ini", "-o", "Setup.exe"], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL)
    shutil.rmtree(folder / "src")
    (folder / "p.ini").unlink()
    files = {p.name: p.read_bytes() for p in sorted(folder.iterdir())}
    shutil.rmtree(folder)
    return files


class Layout:
    """Where the blocks lie in a built Setup.exe."""

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


def descrambled(data, start, length, key):
    """The plain bytes of a cabinet stream's first `length` bytes (key None: stored plain)."""
    chunk = data[start:start + length]
    if key is None:
        return bytes(chunk)
    inverted = bytes(~k & 0xFF for k in key.encode("latin-1"))
    return bytes(c ^ inverted[i % len(inverted)] for i, c in enumerate(chunk))


def cabinet_areas(data, start, end, key=None):
    """The areas of the cabinet stream data[start:end] as {area: [(first, end), ...]}
    in file offsets; the cabinet's own header says where each lies."""
    head = descrambled(data, start, min(end - start, 65536), key)
    size, _, files_at = struct.unpack_from("<III", head, 8)
    folders, files, flags = struct.unpack_from("<HHH", head, 26)
    at, folder_reserve = 36, 0
    if flags & 4:
        header_reserve, folder_reserve = struct.unpack_from("<HB", head, 36)
        at = 40 + header_reserve
    for present in (flags & 1, flags & 2):  # previous / next cabinet: name and disk
        for _ in range(2 if present else 0):
            at = head.index(b"\0", at) + 1
    folders_end = at + folders * (8 + folder_reserve)
    data_at = struct.unpack_from("<I", head, at)[0]
    entries, names = [], []
    pos = files_at
    for _ in range(files):
        name_end = head.index(b"\0", pos + 16) + 1
        entries.append((pos, pos + 16))
        names.append((pos + 16, name_end))
        pos = name_end
    areas = {"cabinet header": [(0, at)], "folder entries": [(at, folders_end)],
             "file entries": entries, "file names": names, "data blocks": [(data_at, size)]}
    return {area: [(start + a, start + min(b, end - start)) for a, b in ranges if a < min(b, end - start)]
            for area, ranges in areas.items()}


def pick(rng, ranges):
    """An offset drawn evenly from a list of (first, end) ranges."""
    total = sum(end - first for first, end in ranges)
    n = rng.randrange(total)
    for first, end in ranges:
        if n < end - first:
            return first + n
        n -= end - first
    raise AssertionError("unreachable")


class Mutation:
    def __init__(self, variant, category, cls, detail, apply):
        self.variant, self.category, self.cls, self.detail, self.apply = variant, category, cls, detail, apply

    def __str__(self):
        return "%s: %s (%s)" % (self.variant, self.cls, self.detail)


# Mutations of a package held as {file name: bytearray}.
def flip(name, at, bit):
    def apply(files):
        files[name][at] ^= 1 << bit
    return apply


def truncate(name, length):
    def apply(files):
        del files[name][length:]
    return apply


def set_int(name, at, fmt, value):
    def apply(files):
        struct.pack_into(fmt, files[name], at, value)
    return apply


def remove(name):
    def apply(files):
        del files[name]
    return apply


def swap(a, b):
    def apply(files):
        files[a], files[b] = files[b], files[a]
    return apply


def next_name_at(volume):
    """(first, end) of the next-volume name in a plain volume's header."""
    flags = struct.unpack_from("<H", volume, 30)[0]
    at = 36 + (4 + struct.unpack_from("<H", volume, 36)[0] if flags & 4 else 0)
    if flags & 1:  # a previous cabinet: its name and disk come first
        for _ in range(2):
            at = volume.index(b"\0", at) + 1
    return at, volume.index(b"\0", at)


def set_next_name(name, new):
    def apply(files):
        first, end = next_name_at(files[name])
        assert len(new) == end - first, (new, files[name][first:end])
        files[name][first:end] = new.encode()
    return apply


class Package:
    """One variant as built: its files in memory and where their parts lie."""

    def __init__(self, variant, files):
        self.variant = variant
        self.files = files
        self.setup = files["Setup.exe"]
        self.layout = Layout(self.setup)
        self.volumes = sorted(n for n in files if n != "Setup.exe")
        password = VARIANTS[variant].password
        self.info_key = KEY_PREFIX + (password or "")
        self.payload_key = self.info_key if password else None

    def copy(self):
        return {name: bytearray(data) for name, data in self.files.items()}

    def write(self, folder, mutation):
        """A fresh copy with the mutation made, in `folder`."""
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        files = self.copy()
        mutation.apply(files)
        for name, data in files.items():
            (folder / name).write_bytes(data)
        return folder / "Setup.exe"


def mutations(package, rng):
    """Every mutation class that applies to the package, as {class: [candidates]},
    offsets drawn from `rng`; several candidates where a class has several places
    (one per follow-up volume, one per header field)."""
    found = collections.defaultdict(list)
    layout = package.layout

    def add(category, cls, detail, apply):
        found[cls].append(Mutation(package.variant, category, cls, detail, apply))

    def damage_areas(file_name, where, areas, truncations):
        for area, ranges in areas.items():
            if not ranges:
                continue
            at, bit = pick(rng, ranges), rng.randrange(8)
            add("bit flip", "bit flip in %s %s" % (where, area), "%s byte %d bit %d" % (file_name, at, bit),
                flip(file_name, at, bit))
            if truncations:
                cut = pick(rng, ranges)
                add("truncation", "truncated in %s %s" % (where, area), "%s cut at %d" % (file_name, cut),
                    truncate(file_name, cut))

    for block in ("header", "language text", "cabinet library"):
        if block not in layout.blocks:
            continue
        first, end = layout.blocks[block]
        cut, at, bit = rng.randrange(first, end), rng.randrange(first, end), rng.randrange(8)
        add("truncation", "truncated in " + block, "cut at %d" % cut, truncate("Setup.exe", cut))
        add("bit flip", "bit flip in " + block, "byte %d bit %d" % (at, bit), flip("Setup.exe", at, bit))
    info = layout.blocks["information cabinet"]
    damage_areas("Setup.exe", "information cabinet",
                 cabinet_areas(package.setup, info[0], info[1], package.info_key), truncations=False)
    cut = rng.randrange(*info)
    add("truncation", "truncated in information cabinet", "cut at %d" % cut, truncate("Setup.exe", cut))
    payload = layout.blocks["payload"]
    damage_areas("Setup.exe", "payload", cabinet_areas(package.setup, payload[0], payload[1], package.payload_key),
                 truncations=True)
    add_header_sizes(package, rng, add)
    for index, name in enumerate(package.volumes):
        data = package.files[name]
        damage_areas(name, "follow-up volume", cabinet_areas(data, 0, len(data), package.payload_key), True)
        add_volume_damage(package, index, name, add)
    return found


def add_header_sizes(package, rng, add):
    """Each block size of the header set to zero, huge, negative, into the next
    block, or past the end of the file."""
    layout = package.layout
    for field, offset, block in (("LangTextSize", 8, "language text"), ("CabLibSize", 16, "cabinet library"),
                                 ("InfoCabSize", 20, "information cabinet")):
        first, end = layout.blocks.get(block, (layout.blocks["information cabinet"][0],) * 2)
        values = {"zero": 0, "huge": 0x7FFFFFFF, "negative": rng.choice((-1, -4096, -0x80000000)),
                  "overlapping": end - first + rng.randrange(1, 4096),
                  "past the end": len(package.setup) - first + rng.randrange(1, 4096)}
        original = struct.unpack_from("<i", package.setup, layout.base + offset)[0]
        for kind, value in values.items():
            if value == original:
                continue
            add("header size", "header size " + kind, "%s = %d" % (field, value),
                set_int("Setup.exe", layout.base + offset, "<i", value))


def add_volume_damage(package, index, name, add):
    """Follow-up volume `index` missing, of another set, out of place, or naming
    itself or an earlier volume as the next one."""
    volumes, data = package.volumes, package.files[name]
    set_id, number = struct.unpack_from("<HH", data, 32)
    add("volume", "follow-up volume missing", name, remove(name))
    add("volume", "follow-up volume of another set", "%s set id %d" % (name, set_id ^ 0x5A5A),
        set_int(name, 32, "<H", set_id ^ 0x5A5A))
    add("volume", "follow-up volume with a wrong index", "%s index %d" % (name, number + 2),
        set_int(name, 34, "<H", number + 2))
    if index + 1 < len(volumes):
        add("volume", "follow-up volumes swapped", "%s and %s" % (name, volumes[index + 1]),
            swap(name, volumes[index + 1]))
        add("volume", "follow-up volume names itself", name, set_next_name(name, name))
        if index >= 1:
            earlier = volumes[index - 1]  # where a cycle returns first
            add("volume", "follow-up volume names an earlier one", "%s names %s" % (name, earlier),
                set_next_name(name, earlier))


def plan(packages, rng, runs):
    """The mutations to run. runs = 0: one of every class of every variant.
    runs > 0: that many, taken round the four categories in turn, each class
    of a category once before any comes again, then fresh draws at random."""
    offered = {name: mutations(package, rng) for name, package in sorted(packages.items())}
    every = [rng.choice(candidates) for name in sorted(offered) for _, candidates in sorted(offered[name].items())]
    if runs <= 0:
        return every
    by_category = collections.defaultdict(list)
    for mutation in every:
        by_category[mutation.category].append(mutation)
    for category, queue in by_category.items():
        rng.shuffle(queue)
        by_category[category] = classes_first(queue)
    chosen = []
    while len(chosen) < runs and any(by_category.values()):
        for category in CATEGORIES:
            if by_category[category] and len(chosen) < runs:
                chosen.append(by_category[category].pop(0))
    while len(chosen) < runs:
        fresh = mutations(packages[rng.choice(sorted(packages))], rng)  # new offsets, not a repeat
        chosen.append(rng.choice(fresh[rng.choice(sorted(fresh))]))
    return chosen


def classes_first(queue):
    """The queue with its first mutation of each class ahead of the repeats."""
    first, repeats, seen = [], [], set()
    for mutation in queue:
        (repeats if mutation.cls in seen else first).append(mutation)
        seen.add(mutation.cls)
    return first + repeats


class Outcome:
    def __init__(self):
        self.code = None
        self.seconds = 0.0
        self.faults = []   # of FAULTS
        self.boxes = []    # texts of the message boxes answered

    def __str__(self):
        return "exit %s in %.1f s%s%s" % (self.code, self.seconds, "; " + ", ".join(self.faults) if self.faults else "",
                                          "; boxes: " + " | ".join(self.boxes) if self.boxes else "")


def answer_windows(d, outcome):
    """Answers what the run shows: the password prompt, message boxes."""
    for w in d.windows():
        caption = w.get("caption") or ""
        if not w.get("visible", True) or w.get("class") != "#32770":
            continue
        if caption == "Password":
            try:
                d.set_text(w, 60, PASSWORD)
                d.click(w, 1)
            except driver.DriverError:
                pass  # the prompt is still being made: the next poll answers it
            continue
        try:
            box = d.message_box(w, timeout_ms=5000)
            outcome.boxes.append("%s: %s" % (caption, (box.get("text") or "")[:80].replace("\r\n", " ")))
            if "Program Error" in caption or "winedbg" in caption.lower():
                outcome.faults.append("crash")
            d.click(w, 1, force=True)
        except driver.DriverError:
            d.close(w)


def installed_tree():
    root = e2e.prefix_path(DEST)
    return {p.relative_to(root).as_posix(): hashlib.md5(p.read_bytes()).hexdigest()
            for p in root.rglob("*") if p.is_file()} if root.is_dir() else {}


def outside_entries():
    """What lies where a run may not write: the top of drive C:, the test folder
    beside the destination and the temporary folder (not inside the private folders)."""
    drive = e2e.PREFIX / "drive_c"
    dest = e2e.prefix_path(DEST)
    found = set(drive.iterdir()) | set(e2e.wine_temp_folder().iterdir())
    if dest.parent.is_dir():
        found |= {p for p in dest.parent.rglob("*") if dest != p and dest not in p.parents}
    return found


def judge_leftovers(outcome, before):
    """Faults for what the run left where it may not write; removes it. A run
    ended by the hang limit is not blamed for the private folder it could not
    remove."""
    temp = e2e.wine_temp_folder()
    for path in sorted(outside_entries() - before):
        in_temp = path.parent == temp
        private = in_temp and path.name.upper().startswith("VELTRA")
        if private and "hang" not in outcome.faults:
            outcome.faults.append("leftover folder")
            if any(path.rglob("~DLL2.$$$")):
                outcome.faults.append("library copy left")
        elif in_temp and path.name.upper().startswith("~DLL"):
            outcome.faults.append("library copy left")
        elif not private:
            outcome.faults.append("file outside destination")
        outcome.boxes.append("left: " + str(path.relative_to(e2e.PREFIX)))
        if path.is_dir():
            shutil.rmtree(path, ignore_errors=True)
        else:
            path.unlink()


def run_once(d, setup, overrides, limit_s):
    """Runs the package unattended and judges the run."""
    outcome = Outcome()
    shutil.rmtree(e2e.prefix_path(DEST), ignore_errors=True)
    # The folder above the destination is the harness's: in a fresh prefix the
    # first run would make it and be blamed for a file outside the destination.
    e2e.prefix_path(DEST).parent.mkdir(parents=True, exist_ok=True)
    before = outside_entries()
    env = driver.wine_environment()
    env.pop("WINEDLLOVERRIDES", None)
    if overrides:
        env["WINEDLLOVERRIDES"] = overrides
    started = time.monotonic()
    process = subprocess.Popen(driver.wine_command(setup), env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while True:
            try:
                outcome.code = process.wait(POLL_S)
                break
            except subprocess.TimeoutExpired:
                if time.monotonic() - started > limit_s:
                    outcome.faults.append("hang")
                    break
                answer_windows(d, outcome)
    finally:
        e2e.stop_process(process)
    outcome.seconds = time.monotonic() - started
    if outcome.code is not None and outcome.code not in ALLOWED_CODES and "crash" not in outcome.faults:
        outcome.faults.append("crash")
    judge_leftovers(outcome, before)
    if outcome.code == 0 and installed_tree() != EXPECTED_TREE:
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


class Tally:
    """Runs and faults per category of damage, for the campaign's summary line."""

    def __init__(self):
        self.runs = collections.Counter()
        self.faults = collections.defaultdict(collections.Counter)
        self.seconds = 0.0

    def add(self, mutation, outcome):
        self.runs[mutation.category] += 1
        self.seconds += outcome.seconds
        for fault in set(outcome.faults):
            self.faults[mutation.category][fault] += 1

    def summary(self, seed):
        runs = sum(self.runs.values())
        total = collections.Counter()
        for counts in self.faults.values():
            total.update(counts)
        by_category = ["%s %d runs: %s" % (category, self.runs[category], ", ".join(
            "%d %s" % (n, PLURALS[f]) for f, n in sorted(self.faults[category].items())) or "clean")
            for category in CATEGORIES if self.runs[category]]
        return ("campaign summary (seed %d): %d runs, %.1f s per run; %s; by category: %s"
                % (seed, runs, self.seconds / max(runs, 1), ", ".join("%d %s" % (total[f], PLURALS[f]) for f in FAULTS),
                   "; ".join(by_category)))
