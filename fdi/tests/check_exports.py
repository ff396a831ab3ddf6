#!/usr/bin/env python3
"""Reads a built cabinet DLL's export table (no Windows needed): the stub
finds the four FDI entry points by name with GetProcAddress, as it finds
them in the system's library, so they must be exported under exactly these
plain names (a 32-bit build decorates stdcall names as FDICreate@36, and a
C++ name would be mangled) and the DLL must be built for the expected
machine. Usage: check_exports.py DLL MACHINE (0x14c or 0x8664)"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "pe"))
import peimage  # noqa: E402

ENTRY_POINTS = ["FDICopy", "FDICreate", "FDIDestroy", "FDIIsCabinet"]


class CabinetDllExports(unittest.TestCase):
    def test_exports_exactly_the_four_plain_entry_points(self):
        image = peimage.PeImage.read(sys.argv[1])
        self.assertEqual(ENTRY_POINTS, sorted(image.exports()))

    def test_built_for_the_machine_of_this_tree(self):
        self.assertEqual(int(sys.argv[2], 0), peimage.machine_of(sys.argv[1]))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
