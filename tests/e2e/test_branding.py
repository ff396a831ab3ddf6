"""A branded package end to end: its icon, version information and
requireAdministrator read back by icoutils' wrestool and icotool, and the
package installed under Wine with the rewritten stub."""
import shutil
import struct
import subprocess
import unittest

import e2e


def icon_file(sizes):
    """An .ico of 32-bit bitmaps, one of each size."""
    images = []
    for s in sizes:
        header = struct.pack("<IiiHHIIiiII", 40, s, 2 * s, 1, 32, 0, 0, 0, 0, 0, 0)
        pixels = bytes([0xC0, 0x70, 0x30, 0xFF]) * (s * s)
        mask = bytes((s + 31) // 32 * 4 * s)
        images.append(header + pixels + mask)
    directory = struct.pack("<HHH", 0, 1, len(sizes))
    offset = len(directory) + 16 * len(sizes)
    for s, image in zip(sizes, images):
        side = 0 if s == 256 else s
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


class BrandingTest(e2e.DestinationTestCase):
    def setUp(self):
        super().setUp()
        if not shutil.which("wrestool") or not shutil.which("icotool"):
            self.skipTest("icoutils (wrestool, icotool) are not installed")

    def resource(self, setup, *options):
        return subprocess.run(["wrestool", "-x", *options, str(setup)], capture_output=True,
                              check=True).stdout

    def test_branded_package_reads_back_and_installs(self):
        folder = self.tmp / "branded"
        folder.mkdir()
        (folder / "app.ico").write_bytes(icon_file([16, 32, 48, 256]))
        setup = self.build_project(folder, (
            "[Setup]\nAppName = Branded Demo\nUnattended = 1\nDestDir = %s\n"
            "[Package]\nIcon = app.ico\nCompanyName = Veltra Test Works\n"
            "ProductVersion = 4.2\nFileVersion = 4.2.0.19\nCopyright = (c) 2026 Veltra Test Works\n"
            "ExecutionLevel = requireAdministrator\n"
            "[Files]\n\\ = files\n") % self.dest, {"hello.txt": b"branded hello\r\n"})

        group = self.resource(setup, "-t14", "-n0")
        listed = subprocess.run(["icotool", "-l", "-"], input=group, capture_output=True,
                                check=True).stdout.decode()
        widths = [line.split("--width=")[1].split()[0] for line in listed.splitlines()]
        self.assertEqual(["16", "32", "48", "256"], widths)
        manifest = self.resource(setup, "--raw", "-t24").decode()
        self.assertIn('requestedExecutionLevel level="requireAdministrator"', manifest)
        version = self.resource(setup, "--raw", "-t16").decode("utf-16-le", "replace")
        for text in ("Veltra Test Works", "Branded Demo Setup", "4.2.0.19", "(c) 2026 Veltra Test Works"):
            self.assertIn(text, version)

        self.assertEqual(0, self.finish(self.start(setup)))
        installed = e2e.prefix_path(self.dest) / "hello.txt"
        self.assertEqual(b"branded hello\r\n", installed.read_bytes())
        self.assertEqual(set(), self.new_work_folders())


if __name__ == "__main__":
    unittest.main()
