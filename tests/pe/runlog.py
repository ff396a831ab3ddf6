#!/usr/bin/env python3
"""A record of the Windows programs and libraries that each test runs, so a
test run can show that it ran the build it was meant to, and fails when it
did not.

Where 64-bit Wine also runs 32-bit programs, a test handed the wrong build
would pass without anyone noticing. Every launcher of Windows programs
(scripts/wine-run.sh, tests/driver/driver.py) passes the files it runs to
record(). With $VELTRA_RUN_LOG set it appends "test<TAB>machine<TAB>file" to
that file; with $VELTRA_EXPECT_MACHINE set (0x14c, 0x8664) a file built for
another machine is an error. ctest sets both, and $VELTRA_TEST_NAME, for
every test of a Windows tree.

    runlog.py record FILE...   record (exit 1 on a wrong machine)
    runlog.py summary LOG      per test, the files it ran and their machines
"""
import collections
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peimage  # noqa: E402


class WrongMachineError(RuntimeError):
    pass


def machine_label(machine):
    return "PE machine %#x (%s)" % (machine, peimage.MACHINE_NAMES.get(machine, "unknown"))


def record(*paths):
    """Records the PE files among paths; raises WrongMachineError when one is
    built for another machine than $VELTRA_EXPECT_MACHINE."""
    expected = os.environ.get("VELTRA_EXPECT_MACHINE")
    log = os.environ.get("VELTRA_RUN_LOG")
    test = os.environ.get("VELTRA_TEST_NAME", "?")
    for path in map(str, paths):
        if not os.path.isfile(path):
            continue  # a Wine builtin ("reg") or an argument that names no file
        machine = peimage.machine_of(path)
        if machine is None:
            continue
        if log:
            with open(log, "a", encoding="utf-8") as f:
                f.write("%s\t%#x\t%s\n" % (test, machine, os.path.abspath(path)))
        if expected and machine != int(expected, 0):
            raise WrongMachineError("%s is built for %s, this test run is for %s"
                                    % (path, machine_label(machine), machine_label(int(expected, 0))))


def shown_path(path):
    """Packages that tests make in temporary folders, by name alone."""
    temp = tempfile.gettempdir().rstrip("/") + "/"
    return "<temp>/.../" + os.path.basename(path) if path.startswith(temp) else path


def summary(log):
    runs = collections.defaultdict(collections.Counter)
    with open(log, encoding="utf-8") as f:
        for line in f:
            test, machine, path = line.rstrip("\n").split("\t", 2)
            runs[test][(int(machine, 16), shown_path(path))] += 1
    lines = []
    for test in sorted(runs):
        lines.append("%s:" % test)
        for (machine, path), count in sorted(runs[test].items(), key=lambda kv: kv[0][1]):
            times = " (%d runs)" % count if count > 1 else ""
            lines.append("  %s %s%s" % (machine_label(machine), path, times))
    return lines


def main(argv):
    if len(argv) >= 2 and argv[0] == "record":
        try:
            record(*argv[1:])
        except WrongMachineError as e:
            print("runlog: %s" % e, file=sys.stderr)
            return 1
        return 0
    if len(argv) == 2 and argv[0] == "summary":
        print("\n".join(summary(argv[1])))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
