"""The stub's private work folder under TEMP: a name that exists already is
never taken, the folder it makes is closed to others, and the clean-up at the
end never follows a link out of it.

Wine keeps no security descriptor for a file: it turns a DACL into the Unix
mode, so "closed to others" is read there. It shows a Unix symbolic link to a
folder as a reparse point (and removes none), which stands in for a junction."""
import os
import stat
import unittest

import cabfile
import e2e

STAMP = cabfile.dos_stamp(2023, 3, 4, 5, 6, 8)


class PrivateFolderTest(e2e.DestinationTestCase):
    def package(self):
        script = e2e.setup_script(app="Private", dest=self.dest, final="Done.")
        return e2e.build_package(self.tmp, script, [("p.txt", b"p\r\n", STAMP, 0x20)])

    def run_until_final_message(self, setup, while_shown):
        """Runs the package, calls `while_shown(work_folder)` while its final
        message is up (the work folder still exists then), answers OK and
        checks the exit."""
        with self.running(setup) as process:
            box = self.driver.message_box("Private Setup")
            made = self.new_work_folders()
            self.assertEqual(1, len(made), made)
            while_shown(e2e.wine_temp_folder() / made.pop())
            self.driver.click(box, "OK")
            self.assertEqual(0, self.finish(process))

    def occupy_next_work_folder(self):
        """Makes the folder the next run would otherwise take, with a file in it."""
        taken = {int(name[6:]) for name in e2e.work_folders() if name[6:].isdigit()}
        number = next(n for n in range(1, len(taken) + 2) if n not in taken)
        folder = e2e.wine_temp_folder() / ("VELTRA%d" % number)
        folder.mkdir()
        (folder / "~LNG1.$$$").write_bytes(b"planted")

        def remove():
            (folder / "~LNG1.$$$").unlink(missing_ok=True)
            folder.rmdir()

        self.addCleanup(remove)
        return folder

    def test_work_folder_is_new_and_closed_to_others(self):
        occupied = self.occupy_next_work_folder()
        self.folders_before = e2e.work_folders()
        seen = {}

        def look(work):
            seen["name"] = work.name
            seen["mode"] = stat.S_IMODE(os.stat(work).st_mode)

        self.run_until_final_message(self.package(), look)
        self.assertNotEqual(occupied.name, seen["name"])
        self.assertEqual(0, seen["mode"] & stat.S_IRWXO, oct(seen["mode"]))
        self.assertEqual(b"planted", (occupied / "~LNG1.$$$").read_bytes())
        self.assertTrue((e2e.prefix_path(self.dest) / "p.txt").is_file())
        self.assertEqual(set(), self.new_work_folders())

    def test_clean_up_leaves_what_a_link_points_at(self):
        outside = self.tmp / "outside"
        (outside / "deeper").mkdir(parents=True)
        (outside / "keep.txt").write_bytes(b"keep")
        (outside / "deeper" / "keep too.txt").write_bytes(b"keep too")
        links = []

        def plant_link(work):
            link = work / "link"
            link.symlink_to(outside, target_is_directory=True)
            links.append(link)

        self.run_until_final_message(self.package(), plant_link)
        self.assertEqual(b"keep", (outside / "keep.txt").read_bytes())
        self.assertEqual(b"keep too", (outside / "deeper" / "keep too.txt").read_bytes())
        # Everything of the stub's own went; only the link, which Wine cannot
        # remove, is left in the work folder.
        work = links[0].parent
        if work.exists():
            self.assertEqual(["link"], sorted(p.name for p in work.iterdir()))
            links[0].unlink()
            work.rmdir()
        self.assertEqual(set(), self.new_work_folders())


if __name__ == "__main__":
    unittest.main(verbosity=2)
