"""A minimal cabinet writer for test payloads: one stored folder, no
checksums (0 means "not computed" to every reader), with the names, DOS
stamps and attribute words the tests choose. Independent of veltra-pack, so
that the stub is tested against cabinets the builder did not make."""
import struct

BLOCK = 32768


def dos_stamp(year, month, day, hour, minute, second):
    date = (year - 1980) << 9 | month << 5 | day
    time = hour << 11 | minute << 5 | second // 2
    return date, time


def write_cabinet(path, entries):
    """entries: list of (stored name, bytes, (date, time), attributes)."""
    data = b"".join(content for _, content, _, _ in entries)
    blocks = [data[i:i + BLOCK] for i in range(0, len(data), BLOCK)] or [b""]
    if not data:
        blocks = []
    files = b""
    offset = 0
    for name, content, (date, time), attributes in entries:
        files += struct.pack("<IIHHHH", len(content), offset, 0, date, time, attributes)
        files += name.encode("latin-1") + b"\0"
        offset += len(content)
    header_size, folder_size = 36, 8
    files_at = header_size + folder_size
    data_at = files_at + len(files)
    body = b"".join(struct.pack("<IHH", 0, len(b), len(b)) + b for b in blocks)
    total = data_at + len(body)
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, files_at, 0, 3, 1,
                         1, len(entries), 0, 0x1234, 0)
    folder = struct.pack("<IHH", data_at, len(blocks), 0)
    with open(path, "wb") as out:
        out.write(header + folder + files + body)
    return path
