"""Payloads that continue in further cabinet volumes: found beside Setup.exe
without a prompt; missing, damaged or foreign volumes end the unattended run
with the right exit code instead of hanging."""
import hashlib
import pathlib
import shutil
import unittest

import cabfile
import e2e

PEER = pathlib.Path(__file__).resolve().parents[2] / "testdata" / "peer-cabs"
STAMP = cabfile.dos_stamp(2022, 1, 2, 3, 4, 6)
# What the five-volume set holds (see testdata/peer-cabs/EXPECTED.txt).
EXPECTED = {
    "small1.bin": "2ad5ba0f497f1e597ab187a2dfaa2e29",
    "small2.bin": "1f862f9e36a32a74202c1120b9f06af7",
    "medium1.bin": "0a7bd124a4c03a30329bd9ff06f71df7",
    "medium2.bin": "b4b0a02ad6a1170d4b3db18cec616fcc",
    "small3.bin": "bbaecacfeba976165e9d77bbecb0cbde",
    "medium3.bin": "b98fe17e8afbcf05aefc5b2c4badbc28",
}


class VolumeTest(e2e.E2ETestCase):
    def setUp(self):
        super().setUp()
        self.dest = "C:\\veltra-e2e\\" + self._testMethodName
        shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)

    def tearDown(self):
        shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)
        super().tearDown()

    def package(self, folder):
        """Setup.exe with split-1.cab as its payload, and volumes 2 to 5 beside it."""
        folder.mkdir(parents=True, exist_ok=True)
        script = e2e.setup_script(dest=self.dest)
        info = cabfile.write_cabinet(self.tmp / "info.cab", [("~DAT1.", script, STAMP, 0x20)])
        setup = e2e.pack_assemble(folder / "Setup.exe", info, PEER / "split-1.cab")
        for n in range(2, 6):
            shutil.copy(PEER / ("split-%d.cab" % n), folder / ("split-%d.cab" % n))
        return setup

    def installed(self):
        root = e2e.prefix_path(self.dest)
        return {p.name: hashlib.md5(p.read_bytes()).hexdigest() for p in root.rglob("*") if p.is_file()}

    def test_set_beside_setup_installs_without_a_prompt(self):
        setup = self.package(self.tmp)
        self.assertEqual(0, self.finish(self.start(setup)))
        self.assertEqual(EXPECTED, self.installed())
        self.assertEqual(set(), self.new_work_folders())

    def test_broken_sets_end_with_their_codes(self):
        cases = (
            ("missing volume", None, 2),
            ("volume that is no cabinet", b"not a cabinet at all" * 20, 1),
            ("volume of another set", (PEER / "cabd_multi_basic_pt3.cab").read_bytes(), 1),
        )
        for name, third_volume, code in cases:
            with self.subTest(name):
                shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)
                folder = self.tmp / name.replace(" ", "-")
                setup = self.package(folder)
                volume = folder / "split-3.cab"
                volume.unlink()
                if third_volume is not None:
                    volume.write_bytes(third_volume)
                self.assertEqual(code, self.finish(self.start(setup)))
                self.assertEqual(set(), self.new_work_folders())

    def test_kept_files_do_not_stop_the_set(self):
        # Kept files are skipped, and a skipped file that crosses into the next
        # volume no longer carries the run there: the later volumes' files
        # must still come, and a broken later volume must still be noticed.
        setup = self.package(self.tmp)
        self.assertEqual(0, self.finish(self.start(setup)))
        root = e2e.prefix_path(self.dest)
        for name in ("small3.bin", "medium3.bin"):
            (root / name).unlink()
        self.assertEqual(0, self.finish(self.start(setup)))
        self.assertEqual(EXPECTED, self.installed())

        (self.tmp / "split-4.cab").write_bytes(b"damaged" * 100)
        self.assertEqual(1, self.finish(self.start(setup)))
        self.assertEqual(set(), self.new_work_folders())


if __name__ == "__main__":
    unittest.main(verbosity=2)
