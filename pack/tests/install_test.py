"""The builder as its Debian package installs it: the package's fields and
files, the installed tool building and verifying the demo from two different
prefixes with nothing of the build tree in reach, its manual page and its
bash completion.

Environment (set by ctest): VELTRA_CPACK (cpack), VELTRA_CPACK_CONFIG (the
host tree's CPackConfig.cmake), VELTRA_PACK (the build tree's veltra-pack, for
what the definitions say), VELTRA_SOURCE (the source tree).
"""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import unittest

CPACK = os.environ.get("VELTRA_CPACK", "cpack")
CONFIG = os.environ.get("VELTRA_CPACK_CONFIG", "")
BUILT = os.environ.get("VELTRA_PACK", "")
SOURCE = pathlib.Path(os.environ.get("VELTRA_SOURCE", "."))
# A run with nothing of the developer's environment: no build tree on PATH.
CLEAN_ENV = {"PATH": "/usr/bin:/bin", "LC_ALL": "C.UTF-8"}

INSTALLED_FILES = [
    "bin/veltra-pack",
    "lib/veltra/veltra-stub.exe",
    "lib/veltra/cabinet-veltra.dll",
    "share/veltra/lang/german.lng",
    "share/man/man1/veltra-pack.1.gz",
    "share/bash-completion/completions/veltra-pack",
    "share/doc/veltra-pack/README.md",
    "share/doc/veltra-pack/copyright",
    "share/doc/veltra-pack/changelog.gz",
]


def run(args, **kwargs):
    kwargs.setdefault("env", CLEAN_ENV)
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def built_help(*args):
    return run([BUILT, "help", *args]).stdout


def commands():
    """The commands as the build tree's help lists them."""
    listing = built_help().split("Subcommands:\n", 1)[1].split("\n\n", 1)[0]
    return re.findall(r"^  (\w+) ", listing, re.M)


def options(command):
    """Every option name of one command, from its help."""
    text = run([BUILT, command, "--help"]).stdout
    return set(re.findall(r"(?<![\w-])(--?[a-zA-Z][\w-]*)", text.split("Options:", 1)[-1]))


class InstalledPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="veltra-install-"))
        made = run([CPACK, "--config", CONFIG, "-B", str(cls.scratch / "deb")], env=dict(os.environ))
        debs = sorted((cls.scratch / "deb").glob("veltra-pack_*.deb"))
        if made.returncode or len(debs) != 1:
            raise AssertionError("cpack made no package:\n" + made.stdout + made.stderr)
        cls.deb = debs[0]
        root = cls.scratch / "root"
        unpacked = run(["dpkg-deb", "-x", str(cls.deb), str(root)])
        if unpacked.returncode:
            raise AssertionError(unpacked.stderr)
        # The same tree moved elsewhere: it must work from any prefix.
        cls.prefixes = [root / "usr", cls.scratch / "elsewhere" / "opt" / "veltra"]
        shutil.copytree(cls.prefixes[0], cls.prefixes[1], symlinks=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def field(self, name):
        return run(["dpkg-deb", "--field", str(self.deb), name]).stdout.strip()

    def test_control_fields(self):
        version = run([BUILT, "--version"]).stdout.split()[-1]
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual(self.deb.name, f"veltra-pack_{version}_{arch}.deb")
        expected = [
            ("Package", lambda v: v == "veltra-pack"),
            ("Version", lambda v: v == version),
            ("Architecture", lambda v: v == arch),
            ("Section", lambda v: v == "devel"),
            ("Depends", lambda v: all(re.search(rf"(^|, ){p}\b", v) for p in ("libc6", "libstdc\\+\\+6", "zlib1g"))),
            ("Recommends", lambda v: "osslsigncode" in v),
            ("Suggests", lambda v: "wine" in v),
            ("Maintainer", lambda v: re.fullmatch(r".+ <[^ >]+@[^ >]+>", v)),
            ("Description", lambda v: "Setup.exe" in v and "\n" in v),
        ]
        for name, holds in expected:
            with self.subTest(field=name):
                value = self.field(name)
                self.assertTrue(holds(value), f"{name}: {value!r}")

    def test_contents_are_the_layout_under_usr(self):
        listing = run(["dpkg-deb", "--contents", str(self.deb)]).stdout.splitlines()
        entries = {line.split()[-1]: line.split()[0] for line in listing}
        for path, mode in entries.items():
            with self.subTest(path=path):
                self.assertTrue(path.startswith("./usr/"), path)
                executable = "x" in mode[1:] and not mode.startswith("d")
                self.assertEqual(executable, path == "./usr/bin/veltra-pack", mode)
        for path in INSTALLED_FILES:
            with self.subTest(path=path):
                self.assertIn("./usr/" + path, entries)

    def test_apt_would_install_it(self):
        if not shutil.which("apt-get"):
            self.skipTest("no apt-get")
        simulated = run(["apt-get", "install", "--simulate", "--no-install-recommends", str(self.deb)],
                        env=dict(os.environ, LC_ALL="C"))
        self.assertEqual(simulated.returncode, 0, simulated.stdout + simulated.stderr)
        self.assertRegex(simulated.stdout, r"(?m)^Inst veltra-pack ")

    def test_installed_tool_builds_and_verifies_the_demo(self):
        for prefix in self.prefixes:
            with self.subTest(prefix=str(prefix)):
                tool = prefix / "bin" / "veltra-pack"
                out = self.scratch / "out" / prefix.parent.name / "Setup.exe"
                built = run([str(tool), "build", str(SOURCE / "demo" / "demo.ini"), "-o", str(out), "--quiet"],
                            cwd=self.scratch)
                self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
                checked = run([str(tool), "verify", str(out)], cwd=self.scratch)
                self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
                self.assertIn("all data read back and checked", checked.stdout)

    def test_installed_tool_looks_only_in_its_own_tree(self):
        """Without lib/veltra the installed tool fails, naming only places in
        its own tree: it does not reach for the build tree it came from."""
        bare = self.scratch / "bare"
        shutil.copytree(self.prefixes[0], bare, symlinks=True)
        shutil.rmtree(bare / "lib" / "veltra")
        tool = bare / "bin" / "veltra-pack"
        failed = run([str(tool), "build", str(SOURCE / "demo" / "demo.ini"), "-o", str(self.scratch / "no.exe")],
                     cwd=self.scratch)
        self.assertEqual(failed.returncode, 1, failed.stdout + failed.stderr)
        looked = re.findall(r"^  (/.*)$", failed.stderr, re.M)
        expected = [f"{bare}/bin/{name}" for name in ("veltra-stub.exe", "cabinet-veltra.dll")]
        expected += [f"{bare}/bin/../lib/veltra/{name}" for name in ("veltra-stub.exe", "cabinet-veltra.dll")]
        self.assertEqual(sorted(looked), sorted(expected), failed.stderr)
        self.assertFalse((self.scratch / "no.exe").exists())

    def test_manual_page_is_clean_roff(self):
        page = self.prefixes[0] / "share" / "man" / "man1" / "veltra-pack.1.gz"
        checks = [
            ["man", "--warnings", "-E", "UTF-8", "-l", str(page)],
            ["sh", "-c", 'zcat "$0" | groff -ww -z -man', str(page)],
        ]
        for args in checks:
            with self.subTest(check=args[0]):
                checked = run(args, env=dict(CLEAN_ENV, MANWIDTH="80"))
                self.assertEqual(checked.returncode, 0, checked.stderr)
                self.assertEqual(checked.stderr, "")
        whatis = run(["lexgrog", str(page)])
        self.assertIn('"veltra-pack - build and check', whatis.stdout)

    def test_manual_page_holds_every_command_option_and_key(self):
        page = run(["man", "-E", "UTF-8", "-l", str(self.prefixes[0] / "share/man/man1/veltra-pack.1.gz")],
                   env=dict(CLEAN_ENV, MANWIDTH="200")).stdout
        for section in ("NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "PROJECT FILE", "EXIT STATUS",
                        "ENVIRONMENT", "FILES", "EXAMPLES", "SEE ALSO"):
            self.assertRegex(page, rf"(?m)^{section}$")
        known = {"--version"}
        for command in commands():
            with self.subTest(command=command):
                self.assertRegex(page, rf"(?m)^   {command}$")
                for option in options(command) - {"-h", "--help"}:
                    self.assertRegex(page, rf"(?m)^       (.*, )?{re.escape(option)}([ ,]|$)")
            known |= options(command)
        # Nothing in the prose or the examples names an option that is gone.
        self.assertEqual(set(re.findall(r"(?<![\w-])(--[a-z][\w-]*)", page)) - known, set())
        keys = re.findall(r"^  (\w+) ", built_help("keys").split("[Files]")[0], re.M)
        self.assertGreater(len(keys), 20)
        for key in keys:
            self.assertRegex(page, rf"(?m)^       {key} = ")

    def complete(self, words):
        """What the installed completion offers for the last of `words`."""
        script = self.prefixes[0] / "share" / "bash-completion" / "completions" / "veltra-pack"
        words_text = " ".join(f"'{w}'" for w in words)
        shell = (f"source '{script}' && complete -p veltra-pack && COMP_WORDS=({words_text}) && "
                 f"COMP_CWORD={len(words) - 1} && _veltra_pack && printf '%s\\n' \"${{COMPREPLY[@]}}\"")
        done = run(["bash", "-c", shell], cwd=self.scratch)
        self.assertEqual(done.returncode, 0, done.stderr)
        lines = done.stdout.splitlines()
        self.assertEqual(lines[0], "complete -o filenames -F _veltra_pack veltra-pack")
        return set(lines[1:])

    def test_completion(self):
        script = self.prefixes[0] / "share" / "bash-completion" / "completions" / "veltra-pack"
        self.assertEqual(run(["bash", "-n", str(script)]).returncode, 0)
        (self.scratch / "project-one.ini").write_text("")
        cases = [
            (["veltra-pack", "b"], {"build"}),
            (["veltra-pack", ""], set(commands())),
            (["veltra-pack", "--v"], {"--version"}),
            (["veltra-pack", "build", "--comp"], {"--compression", "--company-name"}),
            (["veltra-pack", "build", "--sign-p"], {"--sign-pkcs12", "--sign-password-file", "--sign-password-env"}),
            (["veltra-pack", "verify", "--j"], {"--json"}),
            (["veltra-pack", "extract", "x.exe", "--o"], {"--overwrite"}),
            (["veltra-pack", "help", "ke"], {"keys"}),
            (["veltra-pack", "help", "as"], {"assemble"}),
            (["veltra-pack", "build", "project-o"], {"project-one.ini"}),
            (["veltra-pack", "build", "-o", "project-o"], {"project-one.ini"}),
            (["veltra-pack", "--quiet", "b"], {"build"}),
        ]
        for words, expected in cases:
            with self.subTest(words=words):
                self.assertEqual(self.complete(words), expected)


if __name__ == "__main__":
    unittest.main()
