"""What a real machine does to an installation, made to happen on purpose
for the end-to-end tests: a drive that fills up, a file another program holds
open, a destination that cannot be written, a real Windows Installer package
to run.

A small drive is a tmpfs mounted by the test and mapped into the prefix as a
Wine drive letter. That needs root; the test command runs as root, so where
root cannot mount, the test fails rather than skips."""
import contextlib
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

import e2e

EXITWITH = pathlib.Path(os.environ.get("VELTRA_EXITWITH", ""))
HOLDFILE = pathlib.Path(os.environ.get("VELTRA_HOLDFILE", ""))


@contextlib.contextmanager
def small_drive(letter, size_kib):
    """A drive of `size_kib` KiB as `letter`: in the prefix; yields the host
    folder it is mounted on. Removed, with all it holds, afterwards."""
    if os.geteuid() != 0:
        raise AssertionError("mounting a small drive needs root; the test command runs as root")
    mount_point = pathlib.Path(tempfile.mkdtemp(prefix="veltra-drive-"))
    link = e2e.PREFIX / "dosdevices" / (letter.lower() + ":")
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dk" % size_kib, "tmpfs", str(mount_point)],
                            capture_output=True, text=True)
    if result.returncode != 0:
        mount_point.rmdir()
        raise AssertionError("cannot mount a tmpfs as root: " + result.stderr.strip())
    try:
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(mount_point)
        yield mount_point
    finally:
        if link.is_symlink():
            link.unlink()
        subprocess.run(["umount", "-l", str(mount_point)], check=False)
        shutil.rmtree(mount_point, ignore_errors=True)


def remount_read_only(mount_point):
    """Makes a small drive refuse every write, root's included."""
    subprocess.run(["mount", "-o", "remount,ro", str(mount_point)], check=True)


def fill(folder, leave_bytes):
    """Fills the drive of `folder` until about `leave_bytes` remain."""
    stat = os.statvfs(folder)
    free = stat.f_bavail * stat.f_frsize
    size = max(0, free - leave_bytes)
    with open(pathlib.Path(folder) / "filler.bin", "wb") as out:
        out.truncate(0)
        chunk = b"\0" * 65536
        while size > 0:
            written = out.write(chunk[:min(size, len(chunk))])
            size -= written


@contextlib.contextmanager
def held_open(host_path):
    """Holds the file open without sharing, from a Windows program, until
    the block ends (or `release` is called on what it yields)."""
    host_path = pathlib.Path(host_path)
    marker = pathlib.Path(str(host_path) + ".held")
    release = pathlib.Path(str(host_path) + ".release")
    process = subprocess.Popen(e2e.driver.wine_command(str(HOLDFILE), e2e.wine_path(host_path)),
                               env=e2e.driver.wine_environment())

    class Holder:
        def release(self):
            release.touch()
            process.wait(60)

    try:
        deadline = time.monotonic() + 60
        while not marker.exists():
            if process.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("the holder did not take %s" % host_path)
            time.sleep(0.1)
        yield Holder()
    finally:
        if process.poll() is None:
            release.touch()
            try:
                process.wait(60)
            except subprocess.TimeoutExpired:
                process.kill()
        release.unlink(missing_ok=True)


MSI_PRODUCT_FOLDER = "VeltraMsiTest"


def build_msi(folder, payload_name="payload.txt", payload=b"installed by msiexec\r\n"):
    """A real per-machine .msi, made with wixl, that installs one file into
    Program Files\\VeltraMsiTest. Returns its path."""
    folder = pathlib.Path(folder)
    (folder / payload_name).write_bytes(payload)
    (folder / "product.wxs").write_text("""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Veltra MSI Test" Language="1033" Version="1.0.0" Manufacturer="Veltra tests"
           UpgradeCode="6b0f1a2e-4a0c-4d53-9a8e-3f1f7d4b2c11">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="%s">
          <Component Id="Payload" Guid="0d1c9a55-2b6e-4f0a-8f61-7c2f6c1e9b21">
            <File Id="PayloadFile" Source="%s" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Payload"/></Feature>
  </Product>
</Wix>
""" % (MSI_PRODUCT_FOLDER, payload_name))
    msi = folder / "product.msi"
    subprocess.run(["wixl", "-o", str(msi), "product.wxs"], cwd=folder, check=True)
    return msi


def msi_installed_files():
    """The files the test .msi put into the prefix's Program Files folders."""
    drive = e2e.PREFIX / "drive_c"
    return sorted(p for pattern in ("Program Files*/%s/*" % MSI_PRODUCT_FOLDER,)
                  for p in drive.glob(pattern))


def uninstall_msi(msi):
    e2e.wine("msiexec", "/x", e2e.wine_path(msi), "/qn", check=False)
    for folder in (e2e.PREFIX / "drive_c").glob("Program Files*/%s" % MSI_PRODUCT_FOLDER):
        shutil.rmtree(folder, ignore_errors=True)
