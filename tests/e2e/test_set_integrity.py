"""Cabinet sets and the integrity record, on packages built by veltra-pack and
run unattended: a damaged, reordered or foreign follow-up volume, and any part
of a package that no longer matches its record, end the run with exit code 1,
within the time limit, with no wrong or half-written file left in the
destination; packages without the record still get the set checks."""
import hashlib
import os
import pathlib
import shutil
import struct
import subprocess
import tempfile
import unittest
import zlib

import damage
import e2e

OWN_LIBRARY = "cabinet=d"
ALPHA = "a.txt"  # in the payload cabinet itself


# The files the cases below are laid out for: b.bin spans volumes and c.txt
# begins in Setup-3.cab. The split packages carry one more file, so that the
# set has four follow-up volumes.
FILES = {"a.txt": b"alpha\r\n" * 50, "sub/b.bin": damage.PAYLOAD["sub/b.bin"][:520000], "sub/c.txt": b"charlie"}
EXTRA = {"sub/d.bin": bytes((i * 40503 >> 7) & 0xFF for i in range(600000))}


def build(folder, split, password=None, cablib=None):
    """The campaign's payload as Setup.exe: in one cabinet, or stored and
    split into volumes."""
    folder.mkdir(parents=True)
    files = dict(FILES, **(EXTRA if split else {}))
    for rel, data in files.items():
        path = folder / "src" / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    extra = "Password = %s\n" % password if password else ""
    if split:
        blocks = 64 * 1024 + (pathlib.Path(cablib).stat().st_size if cablib else 0)
        extra += "Compression = stored\nVolumeSize = %d\n" % (e2e.STUB.stat().st_size + blocks + 128 * 1024)
    text = damage.PROJECT.format(dest=damage.DEST, stub=e2e.STUB, cablib=cablib or "none", extra=extra)
    (folder / "p.ini").write_text(text)
    subprocess.run([str(e2e.PACK), "build", "p.ini", "-o", "Setup.exe"], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL)
    shutil.rmtree(folder / "src")
    (folder / "p.ini").unlink()


def expected_tree(variant):
    files = dict(FILES, **(EXTRA if variant.startswith("split") else {}))
    return {rel: hashlib.md5(data).hexdigest() for rel, data in files.items()}


def flip(path, offset, bit):
    data = bytearray(path.read_bytes())
    data[offset] ^= 1 << bit
    path.write_bytes(bytes(data))


def set_next_name(path, name):
    """The campaign's in-memory mutation, made on a file."""
    data = bytearray(path.read_bytes())
    damage.set_next_name(path.name, name)({path.name: data})
    path.write_bytes(bytes(data))


def hide_record(folder, names=(b"~DAT3.", b"~DAT4.")):
    """The package as made before the record existed (its files renamed in
    the information cabinet's file list) or, hiding "~DAT4." alone, as the
    previous builder made it, with the version-1 record only. Scrambling is
    a fixed XOR per position, so the difference of the two names is XORed
    in where each stands."""
    setup = folder / "Setup.exe"
    data = bytearray(setup.read_bytes())
    first, end = damage.Layout(data).blocks["information cabinet"]
    key = b"RUVEKA"
    plain = bytes(data[first + i] ^ (~key[i % len(key)] & 0xFF) for i in range(end - first))
    for name in names:  # "~DAT9." and "~DAT8.": two files of one name would clash in the stub's folder
        data[first + plain.index(name + b"\0") + 4] ^= name[4] ^ (ord("9") - name[4] + ord("3"))
    setup.write_bytes(bytes(data))


def cab_checksum(data, seed):
    words = len(data) // 4
    for (word,) in struct.iter_unpack("<I", data[:4 * words]):
        seed ^= word
    rest = 0
    for byte in data[4 * words:]:
        rest = (rest << 8) | byte
    return seed ^ rest


def solve_gf2(columns, target):
    """x with the XOR of columns[i] over the bits i of x equal to target."""
    basis = {}  # top bit -> (vector, combination of columns)
    for i, column in enumerate(columns):
        vector, combination = column, 1 << i
        while vector:
            top = vector.bit_length() - 1
            if top not in basis:
                basis[top] = (vector, combination)
                break
            vector ^= basis[top][0]
            combination ^= basis[top][1]
    x = 0
    while target:
        top = target.bit_length() - 1
        target ^= basis[top][0]
        x ^= basis[top][1]
    return x


def forge_volume(name, rel):
    """Changes 64 bytes of the payload file `rel` where a stored data block of
    volume `name` holds them, and keeps every CRC that could tell: the
    file's, the block's checksum (recomputed) and the volume's. CRC-32 and
    the block checksum are affine over GF(2), so 8 more bytes of the file
    that make both CRCs come out as before are found by solving a linear
    system; nothing outside the file's bytes and the block checksum
    changes."""
    original = dict(FILES, **EXTRA)[rel]

    def apply(folder):
        path = folder / name
        volume = bytes(path.read_bytes())
        block, end = volume_areas(volume)["data blocks"]
        while block < end:
            size = struct.unpack_from("<H", volume, block + 4)[0]
            data = block + 8
            for inside in range(0, size - 200, 100):
                in_file = original.find(volume[data + inside:data + inside + 100])
                if in_file >= 0:
                    break
            else:
                block = data + size
                continue
            forged = bytearray(original)
            forged[in_file:in_file + 64] = b"forged!\0" * 8

            def place(x):
                forged[in_file + 64:in_file + 72] = x.to_bytes(8, "little")
                out = bytearray(volume)
                out[data + inside:data + inside + 100] = forged[in_file:in_file + 100]
                struct.pack_into("<I", out, block, cab_checksum(bytes(out[block + 4:block + 8]),
                                                                cab_checksum(bytes(out[data:data + size]), 0)))
                return out

            def crcs(x):
                out = place(x)
                return zlib.crc32(bytes(forged)) | zlib.crc32(bytes(out)) << 32

            zero = crcs(0)
            columns = [crcs(1 << i) ^ zero for i in range(64)]
            wanted = zlib.crc32(original) | zlib.crc32(volume) << 32
            forged_volume = bytes(place(solve_gf2(columns, wanted ^ zero)))
            assert zlib.crc32(bytes(forged)) == zlib.crc32(original) and bytes(forged) != original
            assert zlib.crc32(forged_volume) == zlib.crc32(volume) and forged_volume[:36] == volume[:36]
            path.write_bytes(forged_volume)
            return
        raise AssertionError("%s holds no stored bytes of %s" % (name, rel))
    return apply


def volume_areas(data):
    """(first, end) of a plain cabinet's folder entries, file entries and data
    blocks, past the reserved areas and the names of the volumes around it."""
    size, _, files_at = struct.unpack_from("<III", data, 8)
    folders, _, flags = struct.unpack_from("<HHH", data, 26)
    at, folder_reserve = 36, 0
    if flags & 4:
        header_reserve, folder_reserve = struct.unpack_from("<HB", data, 36)
        at += 4 + header_reserve
    for _ in range(2 * ((flags & 1) + (flags >> 1 & 1))):
        at = data.index(b"\0", at) + 1
    data_at = struct.unpack_from("<I", data, at)[0]
    return {"folder entries": (at, at + folders * (8 + folder_reserve)), "file entries": (files_at, data_at),
            "data blocks": (data_at, size)}


def flip_in_volume(name, area, fraction=0.5, bit=3):
    def apply(folder):
        first, end = volume_areas((folder / name).read_bytes())[area]
        flip(folder / name, first + int((end - first - 1) * fraction), bit)
    return apply


def set_file_entry_field(name, entry, field, value):
    """Sets a field of the `entry`-th file entry of volume `name`: 0 size,
    4 offset in the folder (32 bits), 8 folder index (16 bits)."""
    def apply(folder):
        path = folder / name
        data = bytearray(path.read_bytes())
        at = volume_areas(bytes(data))["file entries"][0]
        for _ in range(entry):
            at = data.index(b"\0", at + 16) + 1
        struct.pack_into("<H" if field == 8 else "<I", data, at + field, value)
        path.write_bytes(bytes(data))
    return apply


def flip_in_block(block, fraction, bit=3):
    def apply(folder):
        first, end = damage.Layout((folder / "Setup.exe").read_bytes()).blocks[block]
        flip(folder / "Setup.exe", first + int((end - first) * fraction), bit)
    return apply


def patch_file_entry(name, field):
    """Changes the file entry of a.txt in the payload: its size one less, or
    its name one letter different."""
    def apply(folder):
        path = folder / "Setup.exe"
        data = bytearray(path.read_bytes())
        at = data.index(b"a.txt\0", damage.Layout(data).blocks["payload"][0])
        if field == "size":
            entry = at - 16
            struct.pack_into("<I", data, entry, struct.unpack_from("<I", data, entry)[0] - 1)
        else:
            data[at] ^= 0x01
        path.write_bytes(bytes(data))
    return apply


def set_header_word(name, offset, delta):
    """Adds `delta` to a 16-bit field of a volume's header (32 = set id, 34 = index)."""
    def apply(folder):
        path = folder / name
        data = bytearray(path.read_bytes())
        struct.pack_into("<H", data, offset, (struct.unpack_from("<H", data, offset)[0] + delta) & 0xFFFF)
        path.write_bytes(bytes(data))
    return apply


def swap(a, b):
    def apply(folder):
        (folder / a).rename(folder / "swap.tmp")
        (folder / b).rename(folder / a)
        (folder / "swap.tmp").rename(folder / b)
    return apply


def append(data):
    def apply(folder):
        with open(folder / "Setup.exe", "ab") as f:
            f.write(data)
    return apply


class SetIntegrityTest(e2e.E2ETestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.root = pathlib.Path(tempfile.mkdtemp(prefix="veltra-e2e-sets-"))
        cls.cablib = os.environ.get("VELTRA_CABINET_DLL")
        cls.built = {}
        for name, split, password, cablib in (("split", True, None, None), ("split-own", True, None, cls.cablib),
                                              ("plain", False, None, None),
                                              ("password", False, damage.PASSWORD, None)):
            if cablib is None and name == "split-own":
                continue
            cls.built[name] = cls.root / name
            build(cls.built[name], split, password, cablib)
        for name in list(cls.built):
            if name.startswith("split"):
                for suffix, names in (("-bare", (b"~DAT3.", b"~DAT4.")), ("-v1", (b"~DAT4.",))):
                    cls.built[name + suffix] = cls.root / (name + suffix)
                    shutil.copytree(cls.built[name], cls.built[name + suffix])
                    hide_record(cls.built[name + suffix], names)
        volumes = sorted(cls.built["split"].glob("Setup-*.cab"))
        assert len(volumes) >= 4, volumes

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)
        super().tearDownClass()

    def run_damaged(self, variant, apply):
        folder = self.tmp / "run"
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(self.built[variant], folder)
        apply(folder)
        overrides = OWN_LIBRARY if variant.startswith("split-own") else None
        outcome = damage.run_once(self.driver, folder / "Setup.exe", overrides, damage.HANG_FLOOR_S)
        # The campaign's own check knows only its files.
        if "silent corruption" in outcome.faults and damage.installed_tree() == expected_tree(variant):
            outcome.faults.remove("silent corruption")
        return outcome

    def assert_outcome(self, outcome, code, variant="split"):
        self.assertEqual([], outcome.faults, str(outcome))
        self.assertEqual(code, outcome.code, str(outcome))
        expected = expected_tree(variant)
        installed = damage.installed_tree()
        wrong = {name for name, digest in installed.items() if expected.get(name) != digest}
        self.assertEqual(set(), wrong, "wrong or half-written files left: %s" % outcome)
        return installed

    def test_damaged_or_misordered_volumes_fail(self):
        # Without the record only the cabinets' own checks and the set order
        # stand guard; with it, the volume's checksum catches the rest.
        vol2, vol3 = "Setup-2.cab", "Setup-3.cab"
        cases = (
            ("data block of a follow-up volume", flip_in_volume(vol2, "data blocks")),
            ("folder entry of a follow-up volume", flip_in_volume(vol2, "folder entries", 0.0, 2)),
            ("volume that names itself", lambda f: set_next_name(f / vol2, vol2)),
            ("volume that names an earlier one", lambda f: set_next_name(f / vol3, vol2)),
            ("volumes swapped", swap(vol2, vol3)),
            ("set id of another set", set_header_word(vol3, 32, 1)),
            ("index out of sequence", set_header_word(vol3, 34, 1)),
        )
        variants = [v for v in ("split-bare", "split-own-bare", "split") if v in self.built]
        for variant in variants:
            for name, apply in cases:
                with self.subTest(variant=variant, case=name):
                    self.assert_outcome(self.run_damaged(variant, apply), 1, variant)

    def test_damaged_file_entries_of_a_follow_up_volume_end(self):
        # Setup-3.cab lists b.bin (continued from before), c.txt (begins
        # here) and d.bin (continues into Setup-4.cab). Without the record a
        # wrong size of a file that begins here is the format's own limit:
        # the run must only end, cleanly; with it, every case is refused.
        vol3 = "Setup-3.cab"
        # Wine's cabinet.dll never returns from FDICopy on the first two: it
        # goes round its own lists while it frees them, past every callback.
        cases = (
            ("continued file in another folder", set_file_entry_field(vol3, 0, 8, 0), False),
            ("continued file in no folder", set_file_entry_field(vol3, 0, 8, 0xFFF0), False),
            ("file continuing into the next volume in no folder", set_file_entry_field(vol3, 2, 8, 0x7), True),
            ("file continuing into the next volume past its folder", set_file_entry_field(vol3, 2, 4, 1 << 30), True),
            ("size of a file beginning here", set_file_entry_field(vol3, 1, 0, 15), True),
        )
        for variant in [v for v in ("split-bare", "split-own-bare", "split") if v in self.built]:
            for name, apply, system_library_ends in cases:
                with self.subTest(variant=variant, case=name):
                    if variant == "split-bare" and not system_library_ends:
                        self.skipTest("the system cabinet library does not return")
                    outcome = self.run_damaged(variant, apply)
                    if variant == "split":
                        self.assert_outcome(outcome, 1, variant)
                    else:
                        self.assertEqual([], [f for f in outcome.faults if f != "silent corruption"], str(outcome))

    def test_parts_that_do_not_match_the_record_fail_before_writing(self):
        cases = (
            ("split", "language text", flip_in_block("language text", 0.5)),
            ("split", "payload data block", flip_in_block("payload", 0.9)),
            ("password", "payload data block", flip_in_block("payload", 0.9)),
        )
        for variant, name, apply in cases:
            with self.subTest(variant=variant, case=name):
                self.assertEqual({}, self.assert_outcome(self.run_damaged(variant, apply), 1, variant))

    def test_file_list_entries_that_do_not_match_the_record_fail(self):
        # The one part of a cabinet that no checksum of its own covers.
        for field in ("size", "name"):
            with self.subTest(field):
                outcome = self.run_damaged("split", patch_file_entry("Setup.exe", field))
                self.assertNotIn(ALPHA, self.assert_outcome(outcome, 1))

    def test_volumes_forged_to_keep_their_crcs_fail(self):
        # The SHA-256 entries refuse a volume whose file, data block and own
        # CRCs were kept; a package with the version-1 record alone (as the
        # previous builder made it) installs and refuses damage as before.
        vol2 = "Setup-2.cab"
        cases = (
            ("split", "sound", lambda f: None, 0),
            ("split", "forged volume", forge_volume(vol2, "sub/b.bin"), 1),
            ("split-own", "forged volume", forge_volume(vol2, "sub/b.bin"), 1),
            ("split-v1", "sound", lambda f: None, 0),
            ("split-v1", "data block of a follow-up volume", flip_in_volume(vol2, "data blocks"), 1),
            ("split-own-v1", "sound", lambda f: None, 0),
        )
        for variant, name, apply, code in cases:
            if variant not in self.built:
                continue
            with self.subTest(variant=variant, case=name):
                outcome = self.assert_outcome(self.run_damaged(variant, apply), code, variant)
                if code == 0:
                    self.assertEqual(expected_tree(variant), outcome)

    def test_bytes_appended_after_the_payload_are_not_checked(self):
        for variant in ("split", "plain", "password"):
            with self.subTest(variant):
                outcome = self.run_damaged(variant, append(b"\x30\x82signature" * 500))
                self.assertEqual(expected_tree(variant), self.assert_outcome(outcome, 0, variant))


if __name__ == "__main__":
    unittest.main(verbosity=2)
