"""Seeds for the package reader's fuzzer: small packages built by veltra-pack
(plain, with a password, split into two volumes), each cut down to what the
fuzzer's input holds: the package after the stub, then the marker and the
second volume.  Usage: make_seeds.py VELTRA_PACK FOLDER"""
import pathlib
import struct
import subprocess
import sys
import tempfile

TAG = b"VELTRA:PKGBASE\xa5\x00"
MARKER = b"\xff\xfe\xfd\xfc"
PROJECT = """[Setup]
AppName = Fuzz
Unattended = 1
DestDir = <TEMP>\\Fuzz
[Package]
Stub = stub.exe
CabinetLibrary = none
{extra}[Files]
\\ = files
"""


def main(pack, out):
    out = pathlib.Path(out)
    out.mkdir(parents=True, exist_ok=True)
    variants = {"plain": "", "password": "Password = x\n",
                "split": "VolumeSize = 136K\nCompression = stored\n"}
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        (tmp / "files").mkdir()
        (tmp / "files" / "a.txt").write_bytes(b"alpha\r\n" * 40)
        (tmp / "files" / "b.bin").write_bytes(bytes((i * 37) & 0xFF for i in range(150000)))
        (tmp / "stub.exe").write_bytes(b"MZ" + b"S" * 200 + TAG + b"\0\0\0\0" + b"s" * 200)
        for name, extra in variants.items():
            (tmp / "p.ini").write_text(PROJECT.format(extra=extra))
            subprocess.run([pack, "build", "p.ini", "-o", name + ".exe"], cwd=tmp, check=True,
                           stdout=subprocess.DEVNULL)
            data = (tmp / (name + ".exe")).read_bytes()
            base = struct.unpack_from("<i", data, data.index(TAG) + len(TAG))[0]
            seed = data[base:]
            second = tmp / (name + "-2.cab")
            if second.exists():
                seed += MARKER + second.read_bytes()
            (out / ("seed-" + name)).write_bytes(seed)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
