"""Reads what the tests need from a Windows program or library file, without
Windows: the machine it is built for, its exports and its resources.

    image = PeImage.read(path)
    image.machine            # 0x14C for i386, 0x8664 for x86-64
    image.exports()          # [name, ...] in the export table's order
    image.imports()          # {library in lower case: [function, ...]}
    image.resources()        # {(type, id): bytes} for numeric types and ids

A Setup.exe is the stub with a package appended; its headers are the stub's.
"""
import struct

I386, AMD64 = 0x14C, 0x8664
MACHINE_NAMES = {I386: "i386", AMD64: "x86-64"}
EXPORT_DIRECTORY, IMPORT_DIRECTORY, RESOURCE_DIRECTORY = 0, 1, 2


class NotPeError(ValueError):
    pass


class PeImage:
    def __init__(self, data):
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise NotPeError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise NotPeError("no PE header")
        self.data = data
        self.machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.is_pe32_plus = magic == 0x20B
        self.directories_at = optional + (112 if self.is_pe32_plus else 96)
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            _, vsize, rva, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw_ptr))

    @classmethod
    def read(cls, path):
        with open(path, "rb") as f:
            return cls(f.read())

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside every section: %#x" % rva)

    def directory(self, index):
        """(rva, size) of a data directory; (0, 0) when the image has none."""
        return struct.unpack_from("<II", self.data, self.directories_at + 8 * index)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def exports(self):
        rva, size = self.directory(EXPORT_DIRECTORY)
        if not size:
            return []
        # NumberOfNames at 24, AddressOfNames at 32 of the export directory.
        names = struct.unpack_from("<I", self.data, self.offset(rva) + 24)[0]
        name_table = struct.unpack_from("<I", self.data, self.offset(rva) + 32)[0]
        return [self.c_string(struct.unpack_from("<I", self.data, self.offset(name_table) + 4 * i)[0])
                for i in range(names)]

    def imports(self):
        """{library in lower case: [function names]}; imports by ordinal as '#n'."""
        rva, _ = self.directory(IMPORT_DIRECTORY)
        found = {}
        entry_size, by_ordinal = (8, 1 << 63) if self.is_pe32_plus else (4, 1 << 31)
        fmt = "<Q" if self.is_pe32_plus else "<I"
        offset = self.offset(rva) if rva else None
        while offset is not None:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, offset)
            if name == 0:
                break
            names = found.setdefault(self.c_string(name).lower(), [])
            table = self.offset(lookup or thunks)
            while True:
                value = struct.unpack_from(fmt, self.data, table)[0]
                if value == 0:
                    break
                # A name entry is a 2-byte hint, then the name.
                names.append("#%d" % (value & 0xFFFF) if value & by_ordinal
                             else self.c_string((value & 0x7FFFFFFF) + 2))
                table += entry_size
            offset += 20
        return found

    def resources(self):
        rva, size = self.directory(RESOURCE_DIRECTORY)
        if not size:
            return {}
        base = self.offset(rva)
        data = self.data

        def entries(offset):
            named, numbered = struct.unpack_from("<HH", data, base + offset + 12)
            for k in range(named + numbered):
                name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * k)
                yield (None if name & 0x80000000 else name), target

        found = {}
        for rtype, t in entries(0):
            for rid, n in entries(t & 0x7FFFFFFF):
                for _, leaf in entries(n & 0x7FFFFFFF):
                    leaf_rva, leaf_size = struct.unpack_from("<II", data, base + leaf)
                    if rtype is not None and rid is not None:
                        start = self.offset(leaf_rva)
                        found[(rtype, rid)] = data[start:start + leaf_size]
        return found


def machine_of(path):
    """The PE machine of a file, or None when it is no PE file."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
        pe = struct.unpack_from("<I", head, 0x3C)[0]
        if head[:2] != b"MZ" or head[pe:pe + 4] != b"PE\0\0":
            return None
        return struct.unpack_from("<H", head, pe + 4)[0]
    except (OSError, struct.error, ValueError):
        return None
