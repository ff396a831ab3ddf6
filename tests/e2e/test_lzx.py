"""LZX packages that our encoder writes install byte for byte through Wine's
cabinet library and through our own (block 3), at the smallest, a middle and
the largest window and at a lazy, the default and the strongest level, over
inputs that are hard on a compressor and that give every block shape: blocks
over several frames, stored frames between them, aligned-offset blocks."""
import hashlib
import os
import random
import shutil
import unittest

import e2e

FRAME = 32768
# (window, level): the lazy parse, the default and the strongest near-optimal one.
SETTINGS = ((15, 6), (18, 3), (21, 9))


def eight_byte_records(rng, size):
    """Copies of earlier 64-byte records at distances that are multiples of
    8: the offsets' low bits are alike, which aligned-offset blocks code best."""
    data = bytearray(rng.randbytes(4096))
    while len(data) < size:
        start = len(data) - 8 * rng.randrange(64, len(data) // 8)
        data += data[start:start + 64] + rng.randbytes(1)
    return bytes(data[:size])


def hostile_files():
    rng = random.Random(14)
    text = b"".join(b"line %d of a text that repeats itself\r\n" % (i % 50) for i in range(2000))
    block = rng.randbytes(20000)
    calls = b"".join(b"\xE8" + rng.randbytes(4) + b"\x90" * rng.randrange(3) for _ in range(8000))
    return {
        "empty.bin": b"",
        "one.bin": b"x",
        "run.bin": b"\0" * (2 * FRAME + 123),  # the longest matches, across frames
        "random.bin": rng.randbytes(50000),
        "calls.exe": calls,  # many 0xE8 bytes for the call translation
        "below.txt": text[:FRAME - 1],
        "above.txt": text[:FRAME + 1],
        # The same block again 60 and 90 KiB on: inside window 21, beyond window 16.
        "far.bin": block + rng.randbytes(40000) + block + rng.randbytes(10000) + block,
        # Phrases at three alternating distances: every repeated-offset slot.
        "repeats.txt": b"".join(b"%s-%d|" % (w, i % 3) for i in range(3000) for w in (b"ab", b"cde", b"fghi")),
        "records.bin": eight_byte_records(rng, 3 * FRAME),
        # Text over several frames, noise, text again: blocks that span frames
        # on either side of a stored one.
        "mixed.txt": text * 2 + rng.randbytes(FRAME + 5) + text,
    }


class LzxTest(e2e.DestinationTestCase):
    def build(self, name, window, level, cablib, files):
        return self.build_project(self.tmp / name, (
            "[Setup]\nAppName = Lzx\nUnattended = 1\nDestDir = %s\nOverwriteMode = overwrite\n"
            "[Package]\nStub = %s\nCabinetLibrary = %s\nCompression = lzx\nLzxWindow = %d\n"
            "CompressionLevel = %d\n[Files]\n\\ = files\n" % (self.dest, e2e.STUB, cablib, window, level)), files)

    def test_hostile_inputs_install_byte_for_byte_through_both_libraries(self):
        own = os.environ.get("VELTRA_CABINET_DLL")
        if not own:
            self.skipTest("VELTRA_CABINET_DLL not set")
        files = hostile_files()
        expected = {n: hashlib.md5(d).hexdigest() for n, d in files.items()}
        for window, level in SETTINGS:
            for library, overrides in (("system", None), ("own", "cabinet=d")):
                with self.subTest(window=window, level=level, library=library):
                    shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)
                    setup = self.build("w%d-l%d-%s" % (window, level, library), window, level, own, files)
                    if overrides:
                        os.environ["WINEDLLOVERRIDES"] = overrides
                    else:
                        os.environ.pop("WINEDLLOVERRIDES", None)
                    self.assertEqual(0, self.finish(self.start(setup)))
                    self.assertEqual(expected, self.installed_digests())


if __name__ == "__main__":
    unittest.main(verbosity=2)
