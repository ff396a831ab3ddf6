#!/usr/bin/env python3
"""Side-by-side benchmarks of the stub, our cabinet library and the builder
against their peers, on one generated payload. Run through scripts/bench.sh,
which builds the trees and provides the Wine prefix, the Wine server and an X
display. Prints figures only; nothing here passes or fails on them.

Every comparison runs its contenders in turns (the order rotates from round to
round) on the same input, so that the load of a shared machine falls on all of
them alike; the median and the spread (min-max) of the rounds are reported.
The first round of each Windows and native extraction is a warm-up that also
checks the output against the source tree; it is not counted.
"""
import argparse
import datetime
import glob
import hashlib
import os
import pathlib
import platform
import random
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

SRC = pathlib.Path(__file__).resolve().parent.parent
# The 64-bit loader itself. With 32-bit Wine installed, "wine" is the 32-bit
# loader (under user-mode emulation here), which starts a 64-bit program as a
# process of its own and waits: its CPU time and memory would be the loader's,
# not the program's, and its start would be in every wall time.
WINE = "/usr/lib/wine/wine64" if os.access("/usr/lib/wine/wine64", os.X_OK) else "wine"
MiB = 1 << 20
PACKAGE_TAG = b"VELTRA:PKGBASE\xa5\x00"
HEADER_SIZE = 33
APP_NAME = "Veltra Bench"
# The LZX levels that search differently: 0-3 fast, 4-6 lazy, 7-9 deeper.
LZX_LEVELS = (3, 6, 9)
PASSWORD = "bench-Pa55"


# ---------------------------------------------------------------- payload

def text_corpus():
    corpus = b"".join(pathlib.Path(p).read_bytes()
                      for p in sorted(glob.glob("/usr/share/common-licenses/*")) if os.path.isfile(p))
    if len(corpus) < MiB // 4:  # a machine without the licence texts
        words = b"setup cabinet folder volume install the of and to a in is file data".split()
        rng = random.Random(1)
        corpus += b" ".join(rng.choice(words) for _ in range(60000))
    return corpus + corpus


def binary_sources():
    """Real machine code, Windows DLLs where Wine is installed."""
    for pattern in ("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll",
                    "/usr/lib/wine/x86_64-windows/*.dll", "/usr/lib/x86_64-linux-gnu/*.so*", "/usr/bin/*"):
        found = [p for p in sorted(glob.glob(pattern)) if os.path.isfile(p) and not os.path.islink(p)]
        if len(found) > 20:
            return found
    raise SystemExit("no binaries found to build the payload from")


def make_tree(folder, total_mib, seed=2024):
    """A quarter small text files (512 B - 45 KiB, in 120 folders), nine
    sixteenths real DLLs, the rest incompressible noise in 8 MiB (or 1 MiB)
    files. Stamps are fixed, so the same machine gives the same cabinet."""
    folder = pathlib.Path(folder)
    rng = random.Random(seed)
    corpus = text_corpus()
    total = total_mib * MiB
    budgets = [total // 4, total * 9 // 16]
    budgets.append(total - sum(budgets))
    done, n = 0, 0
    while done < budgets[0]:
        size = min(int(2 ** rng.uniform(9, 15.5)), budgets[0] - done)
        at = rng.randrange(len(corpus) // 2)
        sub = folder / "docs" / ("topic%02d" % rng.randrange(40)) / ("part%d" % rng.randrange(3))
        sub.mkdir(parents=True, exist_ok=True)
        (sub / ("note%05d.txt" % n)).write_bytes(corpus[at:at + size])
        done, n = done + size, n + 1
    (folder / "bin").mkdir()
    done = 0
    for path in binary_sources():
        if done >= budgets[1]:
            break
        data = pathlib.Path(path).read_bytes()[:budgets[1] - done]
        (folder / "bin" / os.path.basename(path)).write_bytes(data)
        done += len(data)
    (folder / "media").mkdir()
    left, i = budgets[2], 0
    while left > 0:
        size = min(left, 8 * MiB if total_mib >= 128 else MiB)
        (folder / "media" / ("clip%02d.bin" % i)).write_bytes(rng.randbytes(size))
        left, i = left - size, i + 1
    stamp = datetime.datetime(2024, 5, 1, 12, 0, tzinfo=datetime.timezone.utc).timestamp()
    for path in folder.rglob("*"):
        os.utime(path, (stamp, stamp))
    return manifest(folder)


def manifest(folder):
    """{relative path: (size, md5)} of every file below `folder`."""
    folder = pathlib.Path(folder)
    out = {}
    for path in sorted(folder.rglob("*")):
        if path.is_file():
            data = path.read_bytes()
            out[path.relative_to(folder).as_posix()] = (len(data), hashlib.md5(data).hexdigest())
    return out


def check_output(expected, folder, flatten=False):
    got = manifest(folder)
    want = {k.replace("/", "_") if flatten else k: v for k, v in expected.items()}
    if got != want:
        missing = sorted(set(want) - set(got))[:3]
        extra = sorted(set(got) - set(want))[:3]
        wrong = sorted(k for k in set(want) & set(got) if want[k] != got[k])[:3]
        raise SystemExit("output in %s differs: missing %s, extra %s, wrong %s" % (folder, missing, extra, wrong))


# ---------------------------------------------------------------- processes

class Measure:
    def __init__(self, wall, cpu, rss_kib, code, server_cpu):
        self.wall, self.cpu, self.rss_kib, self.code, self.server_cpu = wall, cpu, rss_kib, code, server_cpu


def find_wineserver(prefix):
    """The pid of the Wine server of `prefix` (it works in a folder named after
    the prefix's device and inode), or None."""
    st = os.stat(prefix)
    tail = "server-%x-%x" % (st.st_dev, st.st_ino)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            if "wineserver" in pathlib.Path("/proc/%s/comm" % entry).read_text() and \
                    os.readlink("/proc/%s/cwd" % entry).endswith(tail):
                return int(entry)
        except OSError:
            continue
    return None


def process_cpu(pid):
    if pid is None:
        return 0.0
    try:
        fields = pathlib.Path("/proc/%d/stat" % pid).read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class PeakWatch:
    """The peak resident set (VmHWM) of a running process, read every 20 ms
    until stop(). ru_maxrss cannot serve: Python starts children with vfork,
    so theirs starts at Python's own peak. VmHWM belongs to the process's
    last program (Wine's loader execs into the Windows program), and being
    a high-water mark it loses only growth in the last 20 ms."""

    def __init__(self, pid):
        self.pid, self.kib = pid, 0
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.watch)
        self.thread.start()

    def watch(self):
        while not self.done.is_set():
            try:
                for line in pathlib.Path("/proc/%d/status" % self.pid).read_text().splitlines():
                    if line.startswith("VmHWM:"):
                        self.kib = max(self.kib, int(line.split()[1]))
            except (OSError, ValueError):
                pass
            self.done.wait(0.02)

    def stop(self):
        """Call before the process is reaped, so that no other takes its pid."""
        self.done.set()
        self.thread.join()
        return self.kib


def reap(proc):
    """Waits for `proc` while watching its peak memory: (status, rusage, peak KiB)."""
    watch = PeakWatch(proc.pid)
    os.waitid(os.P_PID, proc.pid, os.WEXITED | os.WNOWAIT)
    peak = watch.stop()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return usage, peak


def run(cmd, env=None, cwd=None, server=None, timeout=900, stdout=subprocess.DEVNULL, check=True):
    """Runs `cmd` to its end: wall time, user+system CPU and peak resident set
    of the process (with its waited-for children), and the CPU the Wine server
    spent meanwhile. Its error output goes to a file, not a pipe: helper
    processes that Wine starts (services, the desktop) inherit it and outlive
    the program, so a pipe would never reach its end."""
    with tempfile.TemporaryFile() as err:
        server_before = process_cpu(server)
        start = time.perf_counter()
        proc = subprocess.Popen(cmd, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=stdout, stderr=err)
        timer = threading.Timer(timeout, proc.kill)
        timer.start()
        usage, peak = reap(proc)
        wall = time.perf_counter() - start
        timer.cancel()
        m = Measure(wall, usage.ru_utime + usage.ru_stime, peak, proc.returncode,
                    process_cpu(server) - server_before)
        err.seek(0)
        m.stderr = err.read().decode(errors="replace")
    if check and m.code != 0:
        raise SystemExit("%s ended with %d:\n%s" % (" ".join(map(str, cmd)), m.code, m.stderr[-2000:]))
    return m


def rounds(contenders, count, warmup=None):
    """Runs each contender `count` times in rotating order; `warmup`, when
    given, runs first for each and is not counted. A contender is
    (name, prepare, action) where action returns a Measure."""
    results = {name: [] for name, _, _ in contenders}
    if warmup:
        for name, prepare, action in contenders:
            prepare()
            warmup(name, action())
    for r in range(count):
        order = contenders[r % len(contenders):] + contenders[:r % len(contenders)]
        for name, prepare, action in order:
            prepare()
            results[name].append(action())
    return results


def fresh(folder):
    def prepare():
        shutil.rmtree(folder, ignore_errors=True)
        os.sync()
    return prepare


def nothing():
    pass


# ---------------------------------------------------------------- packages

def wine_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def write_project(path, tree, dest, stub, cablib, unattended=True, package=()):
    lines = ["[Setup]", "AppName = " + APP_NAME, "Unattended = %d" % unattended,
             "DestDir = " + wine_path(dest), "OverwriteMode = overwrite", "",
             "[Package]", "Stub = %s" % stub, "CabinetLibrary = %s" % cablib, *package, "", "[Files]"]
    if tree:
        lines.append("\\ = %s" % tree)
    pathlib.Path(path).write_text("\n".join(lines) + "\n")
    return path


def package_blocks(setup_exe):
    """The sizes of the parts of a Setup.exe: stub, header, language text,
    block 3, information cabinet and payload."""
    data = pathlib.Path(setup_exe).read_bytes()
    at = data.index(PACKAGE_TAG) + len(PACKAGE_TAG)
    base = struct.unpack_from("<i", data, at)[0]
    lang, _, cablib, info = struct.unpack_from("<iiii", data, base + 8)
    payload_at = base + HEADER_SIZE + lang + cablib + info
    return {"stub": base, "header": HEADER_SIZE, "lang": lang, "cablib": cablib, "info": info,
            "payload": len(data) - payload_at, "payload_at": payload_at, "total": len(data)}


def extract_payload(setup_exe, out):
    """The payload cabinet of a package without a password, which the
    package carries as it is."""
    blocks = package_blocks(setup_exe)
    with open(setup_exe, "rb") as f:
        f.seek(blocks["payload_at"])
        pathlib.Path(out).write_bytes(f.read())
    return out


def hide_integrity_record(setup_exe, out, names=(b"~DAT3.", b"~DAT4.")):
    """A copy of a package without a password as it would be without its
    integrity record: "~DAT3." and "~DAT4." renamed in the information
    cabinet's file list, so the stub no longer finds them (or "~DAT4." alone:
    the record of CRCs without the volumes' SHA-256). The cabinet is scrambled
    with a fixed XOR per position, so the difference of the two names is
    XORed in where each name stands."""
    data = bytearray(pathlib.Path(setup_exe).read_bytes())
    blocks = package_blocks(setup_exe)
    first = blocks["payload_at"] - blocks["info"]
    key = b"RUVEKA"
    plain = bytes(data[first + i] ^ (~key[i % len(key)] & 0xFF) for i in range(blocks["info"]))
    if plain.find(b"~DAT3.\0") < 0:
        raise SystemExit("%s carries no integrity record" % setup_exe)
    for name in names:
        at = plain.find(name + b"\0")
        if at >= 0:
            data[first + at + 4] ^= name[4] ^ (ord("9") - name[4] + ord("3"))  # "~DAT9.", "~DAT8."
    pathlib.Path(out).write_bytes(bytes(data))
    return out


# ---------------------------------------------------------------- tables

def med(values):
    return statistics.median(values)


def fmt_s(values):
    return "%.2f" % med(values), "%.2f-%.2f" % (min(values), max(values))


def table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" if i == 0 else "---:" for i in range(len(header))) + "|"]
    out += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(out)


def speed_rows(results, mib, baseline, server=False):
    """Rows of name, median wall, spread, MiB/s, speed relative to the
    baseline, CPU, (server CPU,) peak RSS."""
    base = med([m.wall for m in results[baseline]])
    rows = []
    for name, ms in results.items():
        walls = [m.wall for m in ms]
        t, spread = fmt_s(walls)
        row = [name, t, spread, "%.1f" % (mib / med(walls)), "%.2f" % (base / med(walls)),
               "%.2f" % med([m.cpu for m in ms])]
        if server:
            row.append("%.2f" % med([m.server_cpu for m in ms]))
        row.append("%.1f" % (med([m.rss_kib for m in ms]) / 1024))
        rows.append(row)
    return rows


def native_rows(results, mib):
    """speed_rows of our FDI against cabextract: to disk against to disk,
    decode only against `cabextract -t`."""
    rows = speed_rows(results, mib, "cabextract, files to disk")
    for row in rows:
        if row[0] == "our fdi, decode only":
            row[4] = "%.2f" % (med([m.wall for m in results["cabextract -t"]]) /
                               med([m.wall for m in results[row[0]]]))
        elif row[0] == "cabextract -t":
            row[4] = "1.00"
        elif row[0].startswith("zlib raw inflate"):
            row[4] = ""
    return rows


def callgrind_ir(cmd, cwd=None, env=None):
    """Instructions executed (callgrind's Ir total) by `cmd`."""
    m = run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + cmd, cwd=cwd, env=env,
            timeout=1800)
    found = re.findall(r"Collected\s*:\s*(\d+)", m.stderr)
    if not found:
        raise SystemExit("no instruction count from callgrind for " + " ".join(cmd))
    return int(found[-1])


def gir(n):
    return "%.2f G" % (n / 1e9)


# ---------------------------------------------------------------- sections

class Bench:
    def __init__(self, args):
        self.a = args
        self.root = pathlib.Path(args.root)
        self.work = pathlib.Path(args.work)
        self.pack = self.root / "host/pack/veltra-pack"
        self.fdi_bench = self.root / "host/fdi/fdi_bench"
        self.stub = {t: self.root / t / "stub/veltra-stub.exe" for t in ("win32", "win64")}
        self.dll = {t: self.root / t / "fdi/cabinet-veltra.dll" for t in ("win32", "win64")}
        self.prefix = os.environ["WINEPREFIX"]
        self.server = find_wineserver(self.prefix)
        self.env = dict(os.environ, WINEDEBUG="-all")
        self.env_own = dict(self.env, WINEDLLOVERRIDES="cabinet=d")
        self.out = []  # Markdown parts
        self.drv = None

    def say(self, text=""):
        print(text, flush=True)
        self.out.append(text)

    def log(self, text):
        print("# " + text, file=sys.stderr, flush=True)

    def prepare(self):
        w = self.work
        self.mib = self.a.mib
        self.log("payload tree of %d MiB" % self.mib)
        self.expected = make_tree(w / "tree", self.mib)
        self.files = len(self.expected)
        self.small_mib = 16
        make_tree(w / "small", self.small_mib, seed=7)
        self.dest = w / "out"
        write_project(w / "bench.ini", w / "tree", self.dest, self.stub["win64"], self.dll["win64"])
        write_project(w / "level9.ini", w / "tree", self.dest, self.stub["win64"], self.dll["win64"],
                      package=["CompressionLevel = 9"])
        write_project(w / "stored.ini", w / "tree", self.dest, self.stub["win64"], self.dll["win64"],
                      package=["Compression = stored"])
        # "Empty" is one file of no bytes: a cabinet without files is one that
        # no reader takes (FDI, cabextract and gcab all refuse it).
        (w / "nothing").mkdir()
        (w / "nothing" / "empty.txt").write_bytes(b"")
        write_project(w / "empty.ini", w / "nothing", self.dest, self.stub["win64"], self.dll["win64"])
        write_project(w / "wizard.ini", w / "nothing", self.dest, self.stub["win64"], self.dll["win64"],
                      unattended=False)
        write_project(w / "small.ini", w / "small", self.dest, self.stub["win64"], self.dll["win64"])
        self.log("packages")
        run([self.pack, "build", w / "bench.ini", "-o", w / "Setup.exe"])
        run([self.pack, "build", w / "bench.ini", "-o", w / "Setup-pw.exe", "--password", PASSWORD])
        run([self.pack, "build", w / "bench.ini", "-o", w / "Setup32.exe", "--stub", self.stub["win32"],
             "--cablib", self.dll["win32"]])
        run([self.pack, "build", w / "empty.ini", "-o", w / "Setup-empty.exe"])
        run([self.pack, "build", w / "wizard.ini", "-o", w / "Setup-wizard.exe"])
        self.cab = extract_payload(w / "Setup.exe", w / "payload.cab")
        run([self.pack, "build", w / "small.ini", "-o", w / "Setup-small.exe"])
        self.small_cab = extract_payload(w / "Setup-small.exe", w / "small.cab")

    def machine(self):
        cpu = next((l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")), "?")
        mem = next((int(l.split()[1]) for l in open("/proc/meminfo") if l.startswith("MemTotal")), 0)
        wine = subprocess.run([WINE, "--version"], capture_output=True, text=True, env=self.env).stdout.strip()
        osname = next((l.split("=", 1)[1].strip().strip('"') for l in open("/etc/os-release")
                       if l.startswith("PRETTY_NAME")), platform.system())
        commit = subprocess.run(["git", "-C", str(pathlib.Path(__file__).parent), "log", "-1", "--format=%h"],
                                capture_output=True, text=True).stdout.strip()
        self.say("Measured %s on %s: %s, %d cores, %.0f GiB RAM; %s, kernel %s; %s (64-bit prefix); commit %s."
                 % (datetime.date.today().isoformat(), platform.node() or "this machine", cpu, os.cpu_count(),
                    mem / 1048576, osname, platform.release(), wine, commit))
        self.say("Command: `scripts/bench.sh%s` (%d rounds per comparison after a warm-up; "
                 "median and min-max of the rounds; the machine was shared with other work, so "
                 "wall times carry its load, CPU times and instruction counts much less)."
                 % (" --quick" if self.a.quick else "", self.a.rounds))
        self.say()

    def payload_line(self):
        cab = os.path.getsize(self.cab)
        counts = {}
        for name in self.expected:
            counts[name.split("/")[0]] = counts.get(name.split("/")[0], 0) + 1
        return ("Payload: %d files, %d MiB (%d small text files, %d DLLs, %d files of random bytes); "
                "its MSZIP cabinet as `veltra-pack build` writes it: %.1f MiB."
                % (self.files, self.mib, counts.get("docs", 0), counts.get("bin", 0), counts.get("media", 0),
                   cab / MiB))

    def stub_extraction(self):
        self.log("stub extraction under Wine")
        w, dest = self.work, self.dest
        extrac32 = [WINE, "C:\\windows\\system32\\extrac32.exe", "/Y", "/E", "/L", wine_path(dest),
                    wine_path(self.cab)]
        wine_run = self.wine_run
        contenders = [
            ("extrac32, system cabinet.dll", fresh(dest), wine_run(extrac32, self.env)),
            ("Setup.exe, system cabinet.dll", fresh(dest), wine_run([WINE, w / "Setup.exe"], self.env)),
            ("Setup.exe + password, system cabinet.dll", fresh(dest),
             lambda: self.with_password(w / "Setup-pw.exe", self.env)),
            ("Setup.exe, own library (cabinet=d)", fresh(dest), wine_run([WINE, w / "Setup.exe"], self.env_own)),
            ("Setup.exe + password, own library (cabinet=d)", fresh(dest),
             lambda: self.with_password(w / "Setup-pw.exe", self.env_own)),
        ]
        res = rounds(contenders, self.a.rounds, warmup=lambda name, m: check_output(self.expected, dest))
        self.extraction = res
        self.say("### Extraction by the stub under Wine")
        self.say()
        self.say(self.payload_line() + " The stub is the x86_64 build of the product's sources: "
                 "on this machine 32-bit code runs under user-mode emulation, so timing the i686 "
                 "product would measure the emulator. Every run writes into an empty folder.")
        self.say()
        self.wine_table(res, contenders[0][0], "extrac32")
        self.say("Wall time is from start to exit of the Wine process and includes Wine's start-up; "
                 "process CPU is user+system time of that process, wineserver CPU what the Wine server "
                 "spent meanwhile; peak RSS is the process's high-water mark of resident memory "
                 "(VmHWM of the Windows program, read every 20 ms), Wine's own DLLs included. "
                 "A password package asks for its password even when unattended: our test driver "
                 "(`veltra-driver.exe`) waits for the prompt, sets the text and presses OK, so those "
                 "wall times include that exchange (the driver looks every 50 ms).")
        self.say()

    def wine_table(self, res, baseline, against):
        self.say(table(["run", "wall s", "spread s", "MiB/s", "speed vs " + against, "process CPU s",
                        "wineserver CPU s", "peak RSS MiB"],
                       speed_rows(res, self.mib, baseline, server=True)))
        self.say()

    def wine_run(self, cmd, env):
        return lambda: run(cmd, env=env, server=self.server)

    def stub_runs(self, runs):
        """Unattended extractions by packages under Wine, each checked against
        the source tree in its warm-up: `runs` is (name, Setup.exe, env)."""
        contenders = [(name, fresh(self.dest), self.wine_run([WINE, exe], env)) for name, exe, env in runs]
        return rounds(contenders, self.a.rounds, warmup=lambda name, m: check_output(self.expected, self.dest))

    def integrity(self):
        """The cost of the integrity record: the same package with and
        without it, the record hidden by renaming it in the file list."""
        self.log("integrity record")
        w = self.work
        bare = hide_integrity_record(w / "Setup.exe", w / "Setup-norecord.exe")
        with_sys, without_sys = "Setup.exe with the record, system cabinet.dll", "without the record, system cabinet.dll"
        with_own, without_own = ("Setup.exe with the record, own library (cabinet=d)",
                                 "without the record, own library (cabinet=d)")
        res = self.stub_runs([(without_sys, bare, self.env), (with_sys, w / "Setup.exe", self.env),
                              (without_own, bare, self.env_own), (with_own, w / "Setup.exe", self.env_own)])
        self.say("### The integrity record")
        self.say()
        self.say("The plain package of the stub extraction section, unattended, with its integrity record "
                 "(the stub CRCs the whole package before it extracts, then each follow-up volume and each "
                 "file as it closes it) and the same package with the record's name changed in the "
                 "information cabinet's file list, so that the stub does not find it.")
        self.say()
        self.wine_table(res, without_sys, "no record")
        parts = []
        for library, on, off in (("system cabinet.dll", with_sys, without_sys),
                                 ("own library", with_own, without_own)):
            extra = med([m.wall for m in res[on]]) - med([m.wall for m in res[off]])
            cpu = med([m.cpu for m in res[on]]) - med([m.cpu for m in res[off]])
            parts.append("%s %+.2f s wall (%+.1f %% of the run without it), %+.2f s process CPU (%+.1f %%)"
                         % (library, extra, 100.0 * extra / med([m.wall for m in res[off]]),
                            cpu, 100.0 * cpu / med([m.cpu for m in res[off]])))
        self.say("The record costs, median against median: %s." % "; ".join(parts))
        self.say()
        self.split_integrity()

    def split_integrity(self):
        """The same tree split into volumes: the record with the volumes'
        SHA-256, the record of CRCs alone, and no record, against extrac32 on
        the payload in one cabinet."""
        self.log("integrity record, split package")
        w, dest = self.work, self.dest
        folder = w / "split"
        folder.mkdir(exist_ok=True)
        volume = max(MiB, os.path.getsize(self.cab) // 5 // MiB * MiB)  # about five follow-up volumes
        write_project(w / "split.ini", w / "tree", dest, self.stub["win64"], self.dll["win64"],
                      package=["VolumeSize = %d" % volume])
        run([self.pack, "build", w / "split.ini", "-o", folder / "Setup.exe"])
        volumes = sorted(folder.glob("Setup-*.cab"))
        crcs_only = hide_integrity_record(folder / "Setup.exe", folder / "Setup-crc.exe", names=(b"~DAT4.",))
        bare = hide_integrity_record(folder / "Setup.exe", folder / "Setup-norecord.exe")
        extrac32 = [WINE, "C:\\windows\\system32\\extrac32.exe", "/Y", "/E", "/L", wine_path(dest),
                    wine_path(self.cab)]
        names = ("extrac32 on the payload in one cabinet, system cabinet.dll",
                 "split Setup.exe without the record", "split Setup.exe, record of CRC-32 only",
                 "split Setup.exe, record with SHA-256 of the volumes",
                 "split Setup.exe without the record, own library (cabinet=d)",
                 "split Setup.exe, record with SHA-256, own library (cabinet=d)")
        contenders = [(names[0], fresh(dest), self.wine_run(extrac32, self.env))] + [
            (name, fresh(dest), self.wine_run([WINE, exe], env))
            for name, exe, env in ((names[1], bare, self.env), (names[2], crcs_only, self.env),
                                   (names[3], folder / "Setup.exe", self.env),
                                   (names[4], bare, self.env_own), (names[5], folder / "Setup.exe", self.env_own))]
        res = rounds(contenders, self.a.rounds, warmup=lambda name, m: check_output(self.expected, dest))
        self.say("The same tree built with `VolumeSize = %d` (Setup.exe and %d follow-up volumes, %.1f MiB in "
                 "them): the stub reads each volume once more before FDI does, for its CRC-32 and, with the "
                 "record's version-2 entries, its SHA-256 (through the system's CryptoAPI)."
                 % (volume, len(volumes), sum(v.stat().st_size for v in volumes) / MiB))
        self.say()
        self.wine_table(res, names[0], "extrac32")
        on, off, crc = (med([m.cpu for m in res[n]]) for n in (names[3], names[1], names[2]))
        self.say("Process CPU, median: %.2f s without the record, %.2f s with CRC-32 only, %.2f s with "
                 "SHA-256 too (the SHA-256 of the volumes %+.2f s)." % (off, crc, on, on - crc))
        self.say()

    def lzx(self):
        """The LZX package of the same tree against the MSZIP one: extraction
        by the stub under Wine through both libraries, and our FDI natively
        against cabextract on the LZX cabinet."""
        self.log("LZX extraction")
        w = self.work
        run([self.pack, "build", w / "bench.ini", "-o", w / "Setup-lzx.exe", "--compression", "lzx",
             "--lzx-window", "21"])
        lzx_cab = extract_payload(w / "Setup-lzx.exe", w / "lzx-payload.cab")
        res = self.stub_runs([
            ("MSZIP, system cabinet.dll", w / "Setup.exe", self.env),
            ("LZX, system cabinet.dll", w / "Setup-lzx.exe", self.env),
            ("MSZIP, own library (cabinet=d)", w / "Setup.exe", self.env_own),
            ("LZX, own library (cabinet=d)", w / "Setup-lzx.exe", self.env_own),
        ])
        self.say("### LZX against MSZIP")
        self.say()
        self.say("The same tree packed with MSZIP (level 6, %.1f MiB cabinet) and with LZX (window 21, the "
                 "default level, %.1f MiB cabinet), extracted by the stub unattended under Wine:"
                 % (os.path.getsize(self.cab) / MiB, os.path.getsize(lzx_cab) / MiB))
        self.say()
        self.wine_table(res, "MSZIP, system cabinet.dll", "MSZIP, system")
        self.say("The LZX cabinet, our FDI natively against cabextract %s:" % cabextract_version())
        self.say()
        contenders, warm = self.native_contenders(lzx_cab, "-lzx")
        res = rounds(contenders, self.a.rounds, warmup=warm)
        self.say(table(["run", "wall s", "spread s", "MiB/s", "speed vs cabextract", "CPU s", "peak RSS MiB"],
                       native_rows(res, self.mib)))
        self.say()

    def native_contenders(self, cab, tag):
        """Our FDI and cabextract on `cab`, to disk and decode only, with the
        warm-up that checks what they wrote: (contenders, warm-up)."""
        ours_dir, theirs_dir = self.work / ("native-ours" + tag), self.work / ("native-theirs" + tag)

        def ours_disk():
            ours_dir.mkdir()
            return run([self.fdi_bench, cab, ours_dir])

        contenders = [
            ("our fdi, files to disk", fresh(ours_dir), ours_disk),
            ("cabextract, files to disk", fresh(theirs_dir),
             lambda: run(["cabextract", "-q", "-d", theirs_dir, cab])),
            ("our fdi, decode only", nothing, lambda: run([self.fdi_bench, cab, "-"])),
            ("cabextract -t", nothing, lambda: run(["cabextract", "-q", "-t", cab])),
        ]

        def warm(name, m):
            if name.startswith("our fdi, files"):
                check_output(self.expected, ours_dir, flatten=True)
            elif name.startswith("cabextract, files"):
                check_output(self.expected, theirs_dir)
        return contenders, warm

    def startup(self):
        self.log("start-up")
        w = self.work
        one = w / "one"
        one.mkdir(exist_ok=True)
        (one / "a.txt").write_bytes(b"x\r\n")
        subprocess.run(["gcab", "-c", "-z", w / "one.cab", "a.txt"], cwd=one, check=True)
        extrac32 = [WINE, "C:\\windows\\system32\\extrac32.exe", "/Y", "/E", "/L", wine_path(self.dest),
                    wine_path(w / "one.cab")]
        wizard = "Setup.exe, one empty file, wizard: start to first window"
        contenders = [
            ("Setup.exe, one empty file, unattended: start to exit", fresh(self.dest),
             lambda: run([WINE, w / "Setup-empty.exe"], env=self.env, server=self.server)),
            ("extrac32, cabinet of one 3-byte file: start to exit", fresh(self.dest),
             lambda: run(extrac32, env=self.env, server=self.server)),
            (wizard, nothing, lambda: self.first_window(w / "Setup-wizard.exe")),
        ]
        res = rounds(contenders, max(5, self.a.rounds * 2), warmup=lambda name, m: None)
        self.say("### Start-up and memory")
        self.say()
        rows = []
        for name, ms in res.items():
            t, spread = fmt_s([m.wall for m in ms])
            rows.append([name, t, spread, "" if name == wizard else "%.2f" % med([m.cpu for m in ms]),
                         "%.1f" % (med([m.rss_kib for m in ms]) / 1024)])
        ext = self.extraction
        for name in ("Setup.exe, system cabinet.dll", "Setup.exe, own library (cabinet=d)",
                     "extrac32, system cabinet.dll"):
            rows.append([name + ": %d MiB payload" % self.mib, "", "", "",
                         "%.1f" % (med([m.rss_kib for m in ext[name]]) / 1024)])
        self.say(table(["run", "wall s", "spread s", "process CPU s", "peak RSS MiB"], rows))
        self.say()
        empty = med([m.rss_kib for m in res[contenders[0][0]]])
        full = med([m.rss_kib for m in ext["Setup.exe, system cabinet.dll"]])
        self.say("The extraction itself adds %.1f MiB to the stub's peak over its empty-payload run. "
                 "The first window is the wizard's frame as our test driver (`veltra-driver.exe`, which "
                 "looks every 50 ms) first sees it; that run's peak memory is up to the frame's closing "
                 "after Cancel and Yes, and its CPU time is left out because it includes that answer."
                 % ((full - empty) / 1024))
        self.say()

    def driver(self):
        """A session of our test driver in the benchmark's prefix, started
        once and kept warm; main() stops it."""
        if self.drv is None:
            sys.path.insert(0, str(SRC / "tests" / "driver"))
            import driver
            self.drv = driver.Driver(exe=str(self.root / "win64/tests/driver/veltra-driver.exe"),
                                     prefix=self.prefix)
            self.drv.windows()
        return self.drv

    def interactive(self, setup_exe, env, answer):
        """Runs a package that asks something while `answer(driver, start)`
        gives the answers. The Measure's wall is start to exit; `answered` is
        what `answer` returned."""
        d = self.driver()
        server_before = process_cpu(self.server)
        start = time.perf_counter()
        proc = subprocess.Popen([WINE, str(setup_exe)], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            answered = answer(d, start)
        except BaseException:
            proc.kill()
            proc.wait()
            raise
        usage, peak = reap(proc)
        wall = time.perf_counter() - start
        m = Measure(wall, usage.ru_utime + usage.ru_stime, peak, proc.returncode,
                    process_cpu(self.server) - server_before)
        if m.code != 0:
            raise SystemExit("%s ended with %d" % (setup_exe, m.code))
        m.answered = answered
        return m

    def with_password(self, setup_exe, env):
        """A run of a password package; the driver types the password into
        the stub's prompt (set at once, not key by key) and presses OK."""
        def answer(d, start):
            prompt = d.wait_window("Password", timeout_ms=120000, cls="#32770")
            d.set_text(prompt, 60, PASSWORD)
            d.click(prompt, 1, settle_ms=1)  # the wall figure is taken at exit
        return self.interactive(setup_exe, env, answer)

    def first_window(self, setup_exe):
        """A wizard package: start to its frame, then out through Cancel and
        the exit question."""
        def answer(d, start):
            frame = d.wait_window(APP_NAME + " Setup", timeout_ms=120000, cls="#32770")
            shown = time.perf_counter() - start
            d.click(frame, 2)
            d.click(d.message_box("Exit Setup"), "Yes")
            return shown
        m = self.interactive(setup_exe, self.env, answer)
        m.wall = m.answered
        return m

    def native(self):
        self.log("cabinet library, native")
        contenders, warm = self.native_contenders(self.cab, "")
        contenders.append(("zlib raw inflate of the MSZIP blocks, in memory", nothing,
                           lambda: run([self.fdi_bench, self.cab, "--inflate"])))
        res = rounds(contenders, self.a.rounds, warmup=warm)
        self.say("### Our cabinet library natively against cabextract")
        self.say()
        self.say("The same payload cabinet, host build (`fdi_bench`, through the FDI interface with "
                 "plain POSIX callbacks) against cabextract %s." % cabextract_version())
        self.say()
        rows = native_rows(res, self.mib)
        for row, ms in zip(rows, res.values()):
            row.insert(6, "%.1f" % (self.mib / med([m.cpu for m in ms])))
        self.say(table(["run", "wall s", "spread s", "MiB/s", "speed vs cabextract", "CPU s",
                        "MiB per CPU s", "peak RSS MiB"], rows))
        self.say()
        limit = "zlib raw inflate of the MSZIP blocks, in memory"
        self.say("The last row is the limit for MSZIP decoding: the cabinet read into memory and its "
                 "blocks inflated by zlib one after another, with no FDI, checksums or output around "
                 "it. Our decoding (decode only) reaches %.2f of its speed in CPU time, %.2f in wall time."
                 % (med([m.cpu for m in res[limit]]) / med([m.cpu for m in res["our fdi, decode only"]]),
                    med([m.wall for m in res[limit]]) / med([m.wall for m in res["our fdi, decode only"]])))
        self.say()
        ours = callgrind_ir([str(self.fdi_bench), str(self.small_cab), "-"])
        theirs = callgrind_ir(["cabextract", "-q", "-t", str(self.small_cab)])
        self.say("Instructions (callgrind, Ir) to decode the %d MiB cabinet of a smaller tree of the same "
                 "mix, nothing written: our fdi %s, cabextract -t %s (ours / theirs = %.2f)."
                 % (self.small_mib, gir(ours), gir(theirs), ours / theirs))
        self.say()

    def sizes(self):
        self.log("sizes")
        w = self.work
        p32, p64 = package_blocks(w / "Setup32.exe"), package_blocks(w / "Setup.exe")
        e64 = package_blocks(w / "Setup-empty.exe")
        self.say("### Sizes")
        self.say()
        rows = [
            ["stub (veltra-stub.exe)", p32["stub"], p64["stub"]],
            ["cabinet DLL (cabinet-veltra.dll)", os.path.getsize(self.dll["win32"]),
             os.path.getsize(self.dll["win64"])],
            ["block 3: the DLL SZDD-compressed", p32["cablib"], p64["cablib"]],
            ["the same DLL through mscompress (for comparison)", *self.mscompressed()],
            ["header + language text + information cabinet",
             p32["header"] + p32["lang"] + p32["info"], p64["header"] + p64["lang"] + p64["info"]],
            ["package overhead beyond the payload cabinet (Setup.exe - payload)",
             p32["total"] - p32["payload"], p64["total"] - p64["payload"]],
            ["Setup.exe with the %d MiB payload" % self.mib, p32["total"], p64["total"]],
            ["Setup.exe with an empty payload", "", e64["total"]],
        ]
        self.say(table(["bytes", "win32 (product)", "win64"], rows))
        self.say()

    def mscompressed(self):
        """The SZDD size mscompress gives each DLL, or blanks without it."""
        if not shutil.which("mscompress"):
            return ["", ""]
        sizes = []
        for target in ("win32", "win64"):
            folder = self.work / ("ms-" + target)
            folder.mkdir(exist_ok=True)
            copy = folder / self.dll[target].name
            shutil.copyfile(self.dll[target], copy)
            run(["mscompress", copy])
            sizes.append(os.path.getsize(str(copy) + "_"))  # it appends the "_"
        return sizes

    def builder(self):
        self.log("builder")
        w = self.work
        tree = w / "tree"
        names = sorted(self.expected)
        gcab_cab, gcab_stored, cabarc_cab = w / "gcab.cab", w / "gcab-stored.cab", w / "cabarc.cab"
        tops = sorted(p.name for p in tree.iterdir())
        cabarc = [WINE, "C:\\windows\\system32\\cabarc.exe", "-r", "-p", "-m", "mszip", "N",
                  wine_path(cabarc_cab)] + tops
        have_cabarc = os.path.isfile(os.path.join(self.prefix, "drive_c/windows/system32/cabarc.exe"))

        def removed(path):
            return lambda: (path.unlink(missing_ok=True), os.sync())

        def ours(project, exe, threads):
            return removed(exe), lambda: run([self.pack, "build", w / project, "-o", exe,
                                              "--threads", str(threads)])

        # Each at every core (the default) and on one thread.
        ours_exe, contenders = {}, []
        for name, project in (("MSZIP level 6 (default)", "bench.ini"), ("MSZIP level 9", "level9.ini"),
                              ("stored", "stored.ini")):
            for threads in sorted({os.cpu_count() or 1, 1}, reverse=True):
                row = "veltra-pack build, %s, %d thread%s" % (name, threads, "s" if threads > 1 else "")
                ours_exe[row] = w / ("built-%s-%d.exe" % (project[:-4], threads))
                contenders.append((row, *ours(project, ours_exe[row], threads)))
        contenders += [
            ("gcab -c -z (MSZIP)", removed(gcab_cab), lambda: run(["gcab", "-c", "-z", gcab_cab] + names, cwd=tree)),
            ("gcab -c (stored)", removed(gcab_stored), lambda: run(["gcab", "-c", gcab_stored] + names, cwd=tree)),
        ]
        if have_cabarc:
            contenders.append(("Wine cabarc -m mszip", removed(cabarc_cab),
                               lambda: run(cabarc, cwd=tree, env=self.env, server=self.server)))
        res = rounds(contenders, max(2, self.a.rounds - 2))
        for cab in (gcab_cab, gcab_stored, cabarc_cab):
            if cab.exists():
                run(["cabextract", "-q", "-t", cab])
        size = {name: package_blocks(exe)["payload"] for name, exe in ours_exe.items()}
        size["gcab -c -z (MSZIP)"] = os.path.getsize(gcab_cab)
        size["gcab -c (stored)"] = os.path.getsize(gcab_stored)
        if have_cabarc:
            size["Wine cabarc -m mszip"] = os.path.getsize(cabarc_cab)
        self.say("### The builder")
        self.say()
        self.say("The same %d MiB tree; veltra-pack writes the whole Setup.exe (stub, block 3 and the "
                 "rest included), the peers a cabinet. Output is the payload cabinet's size. Speed is "
                 "against gcab in the same compression (stored against stored)." % self.mib)
        self.say()
        rows = []
        for name, ms in res.items():
            base = med([m.wall for m in res["gcab -c (stored)" if "stored" in name else "gcab -c -z (MSZIP)"]])
            t, spread = fmt_s([m.wall for m in ms])
            rows.append([name, t, spread, "%.1f" % (self.mib / med([m.wall for m in ms])),
                         # gcab has no level 9 to compare with
                         "" if "level 9" in name else "%.2f" % (base / med([m.wall for m in ms])),
                         "%.2f" % med([m.cpu for m in ms]), "%.2f" % (size[name] / MiB),
                         "%.1f %%" % (100.0 * size[name] / (self.mib * MiB)),
                         "%.1f" % (med([m.rss_kib for m in ms]) / 1024)])
        self.say(table(["builder", "wall s", "spread s", "MiB/s", "speed vs gcab", "CPU s", "output MiB",
                        "of input", "peak RSS MiB"], rows))
        self.say()
        small = w / "small"
        ours = callgrind_ir([str(self.pack), "build", str(w / "small.ini"), "-o", str(w / "cg.exe"),
                             "--threads", "1"])
        theirs = callgrind_ir(["gcab", "-c", "-z", str(w / "cg.cab")] + sorted(manifest(small)), cwd=small)
        self.say("Instructions (callgrind, Ir) for the %d MiB tree: veltra-pack build --threads 1 %s, gcab -c -z %s "
                 "(ours / theirs = %.2f). Wine's cabarc runs under Wine and is timed only."
                 % (self.small_mib, gir(ours), gir(theirs), ours / theirs))
        self.say()


    def compression(self):
        """Output size and build time of every compression choice on the
        benchmark tree and on a tree of executables only, with xz -9 -T2 of a tar
        of the same tree for scale; then the LZX cabinet decoded by our FDI
        against cabextract. One build per choice: these runs are long."""
        w = self.work
        exes = w / "exes"
        exes.mkdir(exist_ok=True)
        budget, done = (16 if self.a.quick else 64) * MiB, 0
        for path in binary_sources():  # a fixed selection: sorted, up to the budget
            if done >= budget or not path.endswith((".dll", ".exe")):
                continue
            shutil.copy(path, exes / os.path.basename(path))
            done += os.path.getsize(path)
        choices = [("MSZIP level 6", ["CompressionLevel = 6"]), ("MSZIP level 9", ["CompressionLevel = 9"]),
                   ("stored", ["Compression = stored"])]
        for window in (15, 18, 21):
            for level in LZX_LEVELS:
                choices.append(("LZX window %d, level %d" % (window, level),
                                ["Compression = lzx", "LzxWindow = %d" % window, "CompressionLevel = %d" % level]))
        threads = os.cpu_count() or 1
        self.say("### Compression choices")
        self.say()
        self.say("One build each of Setup.exe (payload cabinet size shown) with every compression choice, "
                 "on every core, and `xz -9 -T2` of a tar of the same tree for scale. LZX is our own "
                 "encoder; every block it writes is decoded again by our decoder during the build. LZX "
                 "levels are shown where they differ (%s).\n\nPeak RSS is the builder's resident set "
                 "(ru_maxrss)." % ", ".join(map(str, LZX_LEVELS)))
        self.say()
        for title, tree in (("benchmark tree", w / "tree"), ("executables only", exes)):
            total = sum(f.stat().st_size for f in tree.rglob("*") if f.is_file())
            rows, sizes = [], {}
            for name, package in choices:
                ini = write_project(w / "choice.ini", tree, self.dest, self.stub["win64"], self.dll["win64"],
                                    package=package)
                exe = w / "choice.exe"
                m = run([self.pack, "build", ini, "-o", exe, "--threads", str(threads)], timeout=7200)
                sizes[name] = package_blocks(exe)["payload"]
                rows.append([name, "%.2f" % (sizes[name] / MiB), "%.1f %%" % (100.0 * sizes[name] / total),
                             "", str(threads), "%.1f" % m.wall, "%.1f" % m.cpu, "%.1f" % (m.rss_kib / 1024)])
                if name == "LZX window 21, level 6" and title == "benchmark tree":
                    run(["cp", exe, w / "lzx.exe"])
            tar, tar_xz = w / "tree.tar", w / "tree.tar.xz"
            subprocess.run(["tar", "-C", tree, "-cf", tar, "."], check=True)
            tar_xz.unlink(missing_ok=True)
            m = run(["xz", "-9", "-T2", "-k", tar])
            sizes["xz -9 -T2 of a tar"] = os.path.getsize(tar_xz)
            rows.append(["xz -9 -T2 of a tar", "%.2f" % (sizes["xz -9 -T2 of a tar"] / MiB),
                         "%.1f %%" % (100.0 * sizes["xz -9 -T2 of a tar"] / total), "", "2",
                         "%.1f" % m.wall, "%.1f" % m.cpu, "%.1f" % (m.rss_kib / 1024)])
            base = sizes["MSZIP level 9"]
            for row in rows:
                row[3] = "%+.1f %%" % (100.0 * (sizes[row[0]] - base) / base)
            self.say("%s, %.1f MiB:" % (title.capitalize(), total / MiB))
            self.say()
            self.say(table(["compression", "output MiB", "of input", "vs MSZIP 9", "threads", "build s", "CPU s",
                            "peak RSS MiB"], rows))
            self.say()
        cab = extract_payload(w / "lzx.exe", w / "lzx.cab")
        res = rounds([("our fdi, decode only", nothing, lambda: run([self.fdi_bench, cab, "-"])),
                      ("cabextract -t", nothing, lambda: run(["cabextract", "-q", "-t", cab]))], self.a.rounds)
        self.say("The LZX cabinet (window 21, level 6) of the benchmark tree, decoded without writing:")
        self.say()
        rows = speed_rows(res, self.mib, "cabextract -t")
        self.say(table(["run", "wall s", "spread s", "MiB/s", "speed vs cabextract", "CPU s", "peak RSS MiB"],
                       rows))
        self.say()


def cabextract_version():
    out = subprocess.run(["cabextract", "--version"], capture_output=True, text=True).stdout.strip()
    return out.split()[-1] if out else ""


BEGIN, END = "<!-- bench:begin -->", "<!-- bench:end -->"


def replace_between(path, begin, end, text):
    """Puts `text` between the markers of a Markdown file, leaving the rest
    (notes and profiles written by hand) as it is."""
    content = pathlib.Path(path).read_text()
    a, b = content.find(begin), content.find(end)
    if a < 0 or b < a:
        raise SystemExit("%s has no %s ... %s markers" % (path, begin, end))
    pathlib.Path(path).write_text(content[:a + len(begin)] + "\n" + text + "\n" + content[b:])


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--root", required=True, help="build root with host, win32 and win64 trees")
    ap.add_argument("--work", required=True, help="scratch folder")
    ap.add_argument("--quick", action="store_true", help="32 MiB payload, fewer rounds")
    ap.add_argument("--rounds", type=int, help="rounds per comparison (default 5, quick 3)")
    ap.add_argument("--markdown", help="put the tables into this file between the bench markers")
    ap.add_argument("--readme", help="and into this README between the same markers")
    ap.add_argument("--only", default="stub,startup,integrity,lzx,native,sizes,builder,compression",
                    help="comma-separated sections (stub needs to run before startup)")
    a = ap.parse_args()
    a.mib = 32 if a.quick else 256
    a.rounds = a.rounds or (3 if a.quick else 5)
    b = Bench(a)
    started = time.time()
    b.prepare()
    b.machine()
    sections = a.only.split(",")
    if "startup" in sections and "stub" not in sections:
        sections.insert(0, "stub")
    try:
        for name in ("stub", "startup", "integrity", "lzx", "native", "sizes", "builder", "compression"):
            if name in sections:
                {"stub": b.stub_extraction, "startup": b.startup, "integrity": b.integrity, "lzx": b.lzx,
                 "native": b.native, "sizes": b.sizes, "builder": b.builder,
                 "compression": b.compression}[name]()
    finally:
        if b.drv:
            b.drv.stop()
    b.say("The whole run took %.0f s." % (time.time() - started))
    text = "\n".join(b.out).rstrip() + "\n"
    for path in filter(None, (a.markdown, a.readme)):
        replace_between(path, BEGIN, END, text)


if __name__ == "__main__":
    main()
