#!/usr/bin/env python3
"""Checks the Windows executable itself: a 64-bit x86 PE, the console
subsystem, imports from system DLLs only, and the embedded manifest."""

import struct
import sys

MACHINE_AMD64 = 0x8664
PE32_PLUS = 0x20B
SUBSYSTEM_CONSOLE = 3
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
IMPORT_DIRECTORY = 1
RESOURCE_DIRECTORY = 2
# What a bare Windows machine has: the kernel and the C runtime.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll"}
SYSTEM_DLL_PREFIXES = ("api-ms-win-crt-", "api-ms-win-core-")
MANIFEST_MUST_HOLD = [
    b'level="asInvoker"',
    b'uiAccess="false"',
    b">true</dpiAware>",
    b">UTF-8</activeCodePage>",
]


class Image:
    def __init__(self, data):
        self.data = data
        (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
        if data[:2] != b"MZ" or data[pe_offset:pe_offset + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        coff = pe_offset + 4
        self.machine, section_count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, coff)
        optional = coff + 20
        self.magic, = struct.unpack_from("<H", data, optional)
        self.subsystem, = struct.unpack_from("<H", data, optional + 68)
        directory_count, = struct.unpack_from("<I", data, optional + 108)
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * index)
                            for index in range(directory_count)]
        self.sections = []
        for index in range(section_count):
            header = optional + optional_size + 40 * index
            virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", data, header + 8)
            self.sections.append((virtual_address, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for virtual_address, size, raw_offset in self.sections:
            if virtual_address <= rva < virtual_address + size:
                return rva - virtual_address + raw_offset
        raise ValueError(f"address {rva:#x} lies in no section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        rva, _ = self.directories[IMPORT_DIRECTORY]
        names = []
        entry = self.offset(rva)
        while True:
            fields = struct.unpack_from("<IIIII", self.data, entry)
            if not any(fields):
                return names
            names.append(self.c_string(fields[3]))
            entry += 20

    def resource(self, type_id, name_id):
        root_rva, _ = self.directories[RESOURCE_DIRECTORY]
        if not root_rva:
            return None
        root = self.offset(root_rva)

        def find(directory, wanted):
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            for index in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * index)
                if wanted is None or ident == wanted:
                    return target
            return None

        level = root
        for wanted in (type_id, name_id, None):  # type, name, then any language
            target = find(level, wanted)
            if target is None:
                return None
            level = root + (target & 0x7FFFFFFF)
        data_rva, size = struct.unpack_from("<II", self.data, level)
        start = self.offset(data_rva)
        return self.data[start:start + size]


def main():
    with open(sys.argv[1], "rb") as exe:
        image = Image(exe.read())
    problems = []
    if image.machine != MACHINE_AMD64 or image.magic != PE32_PLUS:
        problems.append(f"machine {image.machine:#x}, magic {image.magic:#x}: not a 64-bit x86 image")
    if image.subsystem != SUBSYSTEM_CONSOLE:
        problems.append(f"subsystem {image.subsystem}, expected the console ({SUBSYSTEM_CONSOLE})")
    dlls = image.imported_dlls()
    foreign = [dll for dll in dlls if dll.lower() not in SYSTEM_DLLS and not dll.lower().startswith(SYSTEM_DLL_PREFIXES)]
    if foreign:
        problems.append(f"imports DLLs a bare Windows machine lacks: {foreign}")
    manifest = image.resource(RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID)
    if manifest is None:
        problems.append("no manifest resource")
    else:
        problems += [f"manifest lacks {text.decode()}" for text in MANIFEST_MUST_HOLD if text not in manifest]

    print(f"imports: {', '.join(dlls)}; manifest: {len(manifest or b'')} bytes")
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
