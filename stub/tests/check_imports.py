#!/usr/bin/env python3
"""Reads the import tables of built Windows files (no Windows needed) and
checks that every function they import is one that Windows XP SP3's system
libraries export (xp_sp3_exports.txt), so that the loader starts them there.
Usage: check_imports.py FILE.exe|FILE.dll ..."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "pe"))
import peimage  # noqa: E402

# The machine column of the list.
MACHINE_COLUMN = {peimage.I386: "x86", peimage.AMD64: "amd64"}

LIST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "xp_sp3_exports.txt")


def xp_exports(machine):
    """{(library, function)} that XP SP3 has on `machine` ("x86" or "amd64")."""
    found = set()
    with open(LIST) as f:
        for line in f:
            fields = line.split("#", 1)[0].split()
            if fields and (len(fields) == 2 or fields[2] == machine):
                found.add((fields[0].lower(), fields[1]))
    return found


def missing_on_xp(image):
    """The imports of `image` that XP SP3 lacks, as "library!function"."""
    known = xp_exports(MACHINE_COLUMN[image.machine])
    return sorted("%s!%s" % (library, function)
                  for library, functions in image.imports().items()
                  for function in functions if (library, function) not in known)


class ImportsOnXp(unittest.TestCase):
    maxDiff = None

    def test_every_import_is_exported_by_xp_sp3(self):
        for path in FILES:
            image = peimage.PeImage.read(path)
            with self.subTest(file=os.path.basename(path)):
                self.assertTrue(image.imports(), "no import table read")
                self.assertEqual([], missing_on_xp(image))


if __name__ == "__main__":
    FILES = sys.argv[1:]
    unittest.main(argv=sys.argv[:1])
