#!/usr/bin/env python3
"""Reads the resource section of a built stub (no Windows needed) and checks
what the program promises Windows: a manifest for its own architecture that
asks for version 6 of the common controls, the three icon groups and every
dialog template. Usage: check_resources.py STUB.exe"""
import os
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "pe"))
import peimage  # noqa: E402

RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 14, 24
MACHINES = {0x14C: "x86", 0x8664: "amd64"}
ASM = "{urn:schemas-microsoft-com:asm.v1}"


class StubResources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        image = peimage.PeImage.read(sys.argv[1])
        cls.machine = MACHINES.get(image.machine, hex(image.machine))
        cls.resources = image.resources()

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

    def test_icon_images_are_bitmaps_that_windows_xp_reads(self):
        # Windows XP reads no PNG-compressed icon images, and an image that
        # disagrees with its group entry is not found for that size.
        for group in (0, 100, 200):
            data = self.resources[(RT_GROUP_ICON, group)]
            for i in range(struct.unpack_from("<H", data, 4)[0]):
                width, height, _, _, _, bits, size, ident = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i)
                with self.subTest(group=group, image=ident):
                    image = self.resources.get((RT_ICON, ident))
                    self.assertIsNotNone(image, "icon image %d" % ident)
                    self.assertEqual(size, len(image))
                    header = struct.unpack_from("<IiiHH", image)
                    self.assertEqual((40, width, 2 * height, 1, bits), header)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
