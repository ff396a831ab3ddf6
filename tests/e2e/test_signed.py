"""Signed packages install: the signature that osslsigncode appends after the
payload leaves the stub's package and payload where PackageBase says, and
the follow-up volumes of a split package still continue the set."""
import hashlib
import os
import random
import shutil
import subprocess
import unittest

import e2e


def make_signer(folder):
    """A throwaway authority and a code-signing certificate it issued, with
    the signer's key protected by a password; the password file's path."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Veltra E2E CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    openssl("req", "-newkey", "rsa:2048", "-keyout", "signer.key", "-passout", "pass:e2e-secret",
            "-out", "signer.csr", "-subj", "/CN=Veltra E2E Signer")
    (folder / "ext.cnf").write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                    "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "signer.pem", "-days", "2", "-extfile", "ext.cnf")
    (folder / "pass.txt").write_text("e2e-secret\n")


class SignedTest(e2e.DestinationTestCase):
    def setUp(self):
        super().setUp()
        if not shutil.which("osslsigncode") or not shutil.which("openssl"):
            self.skipTest("osslsigncode and openssl are needed")
        make_signer(self.tmp)

    def build(self, name, package_keys, files):
        setup = self.build_project(self.tmp / name, (
            "[Setup]\nAppName = Signed\nUnattended = 1\nDestDir = %s\nOverwriteMode = overwrite\n"
            "[Package]\nStub = %s\nCabinetLibrary = none\n%s"
            "[Sign]\nCertificate = ../signer.pem\nKey = ../signer.key\nPasswordFile = ../pass.txt\n"
            "Description = Signed test\n[Files]\n\\ = files\n" % (self.dest, e2e.STUB, package_keys)), files)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(self.tmp / "ca.pem"),
                                   "-in", str(setup)], capture_output=True, text=True)
        self.assertEqual(0, verified.returncode, verified.stdout + verified.stderr)
        return setup

    def test_signed_packages_install(self):
        rng = random.Random(13)
        cases = (
            ("single", "", {"a.txt": b"alpha\r\n", "b.bin": rng.randbytes(40000)}),
            ("split", "Compression = stored\nVolumeSize = 240K\n",
             {"big%d.bin" % i: rng.randbytes(150000) for i in range(4)}),
        )
        for name, keys, files in cases:
            with self.subTest(name):
                shutil.rmtree(e2e.prefix_path(self.dest), ignore_errors=True)
                setup = self.build(name, keys, files)
                volumes = sorted(p.name for p in setup.parent.glob("Setup-*.cab"))
                self.assertEqual(name == "split", len(volumes) > 0, volumes)
                self.assertEqual(0, self.finish(self.start(setup)))
                expected = {n: hashlib.md5(d).hexdigest() for n, d in files.items()}
                self.assertEqual(expected, self.installed_digests())
                self.assertEqual(set(), self.new_work_folders())


if __name__ == "__main__":
    unittest.main()
