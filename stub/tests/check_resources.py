#!/usr/bin/env python3
"""Reads the resource section of a built stub (no Windows needed) and checks
what the program promises Windows: a manifest for its own architecture that
asks for version 6 of the common controls, the three icon groups and every
dialog template. Usage: check_resources.py STUB.exe"""
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

from pe_image import DIR_RESOURCE, PeImage

RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST = 5, 14, 24
ASM = "{urn:schemas-microsoft-com:asm.v1}"


def read_pe(data):
    """The machine and {(type, id): bytes} of every resource with a numeric id."""
    image = PeImage(data)
    base = image.at(image.directory(DIR_RESOURCE)[0])

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", data, base + offset + 12)
        for k in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * k)
            yield (None if name & 0x80000000 else name), target

    found = {}
    for rtype, t in entries(0):
        for rid, n in entries(t & 0x7FFFFFFF):
            for _, leaf in entries(n & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                if rtype is not None and rid is not None:
                    found[(rtype, rid)] = data[image.at(rva):image.at(rva) + size]
    return image.machine, found


class StubResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(sys.argv[1], "rb") as f:
            cls.machine, cls.resources = read_pe(f.read())

    def test_manifest_names_the_architecture_and_common_controls_6(self):
        manifest = ET.fromstring(self.resources[(RT_MANIFEST, 1)])
        identity = manifest.find(ASM + "assemblyIdentity")
        self.assertEqual(self.machine, identity.get("processorArchitecture"))
        self.assertEqual("win32", identity.get("type"))
        controls = [a for a in manifest.iter(ASM + "assemblyIdentity")
                    if a.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(1, len(controls))
        self.assertEqual("6.0.0.0", controls[0].get("version"))
        self.assertEqual("6595b64144ccf1df", controls[0].get("publicKeyToken"))

    def test_icon_groups_and_dialog_templates(self):
        for group in (0, 100, 200):
            self.assertIn((RT_GROUP_ICON, group), self.resources, "icon group %d" % group)
            count = struct.unpack_from("<HHH", self.resources[(RT_GROUP_ICON, group)])[2]
            self.assertGreater(count, 0, "icon group %d is empty" % group)
        for dialog in (2000, 6002, 2002, 2005, 2001, 2003, 3000, 5000):
            self.assertIn((RT_DIALOG, dialog), self.resources, "dialog %d" % dialog)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
