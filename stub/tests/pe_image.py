"""Reads the parts of a Windows program or library file that the tests check,
without Windows: the machine, the data directories and addresses inside
sections."""
import struct

MACHINES = {0x14C: "x86", 0x8664: "amd64"}
DIR_IMPORT, DIR_RESOURCE = 1, 2


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, pe + 4)
        self.machine = MACHINES.get(machine, hex(machine))
        optional = pe + 24
        self.pe32_plus = struct.unpack_from("<H", data, optional)[0] == 0x20B
        self._directories = optional + (112 if self.pe32_plus else 96)
        table = optional + optional_size
        self._spans = []
        for i in range(sections):
            _, vsize, rva, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self._spans.append((rva, max(vsize, raw_size), raw_ptr))

    def directory(self, index):
        """(rva, size) of data directory `index`."""
        return struct.unpack_from("<II", self.data, self._directories + 8 * index)

    def at(self, rva):
        """The file offset of address `rva`."""
        for start, size, raw in self._spans:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside every section: %#x" % rva)

    def c_string(self, rva):
        start = self.at(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{dll name in lower case: [function names]}; ordinals as '#n'."""
        rva, _ = self.directory(DIR_IMPORT)
        found = {}
        entry_size, flag = (8, 1 << 63) if self.pe32_plus else (4, 1 << 31)
        fmt = "<Q" if self.pe32_plus else "<I"
        offset = self.at(rva) if rva else None
        while offset is not None:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, offset)
            if name == 0:
                break
            names = found.setdefault(self.c_string(name).lower(), [])
            table = self.at(lookup or thunks)
            while True:
                value = struct.unpack_from(fmt, self.data, table)[0]
                if value == 0:
                    break
                names.append("#%d" % (value & 0xFFFF) if value & flag else self.c_string((value & 0x7FFFFFFF) + 2))
                table += entry_size
            offset += 20
        return found
