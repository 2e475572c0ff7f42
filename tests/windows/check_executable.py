#!/usr/bin/python3
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
"""Checks the Windows executable itself: a 64-bit x86 PE, the console
subsystem, imports from system DLLs only, the embedded manifest and the
version resource. Needs pefile (Debian's python3-pefile).

    check_executable.py EXE VERSION [--without-utf8-code-page]

The test-only build without the UTF-8 code page must lack that one entry,
so that it never turns silently into a copy of the release program."""

import sys

import pefile

RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
# What a bare Windows machine has: the kernel and the C runtime.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll"}
SYSTEM_DLL_PREFIXES = ("api-ms-win-crt-", "api-ms-win-core-")
MANIFEST_MUST_HOLD = [
    b'level="asInvoker"',
    b'uiAccess="false"',
    b">true</dpiAware>",
    b">true</longPathAware>",
]
UTF8_CODE_PAGE = b">UTF-8</activeCodePage>"


def manifest(pe):
    kinds = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    for name in [name for kind in kinds if kind.id == RT_MANIFEST for name in kind.directory.entries]:
        if name.id == CREATEPROCESS_MANIFEST_RESOURCE_ID:
            data = name.directory.entries[0].data.struct  # the first language
            return pe.get_data(data.OffsetToData, data.Size)
    return None


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            strings.update({key.decode(): value.decode() for key, value in table.entries.items()})
    return strings


def main():
    exe, version = sys.argv[1], sys.argv[2]
    with_code_page = "--without-utf8-code-page" not in sys.argv[3:]
    pe = pefile.PE(exe)
    problems = []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"] or \
            pe.OPTIONAL_HEADER.Magic != pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS:
        problems.append("not a 64-bit x86 image")
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]:
        problems.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, expected the console")

    dlls = [entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT]
    foreign = [dll for dll in dlls if dll.lower() not in SYSTEM_DLLS and not dll.lower().startswith(SYSTEM_DLL_PREFIXES)]
    if foreign:
        problems.append(f"imports DLLs a bare Windows machine lacks: {foreign}")

    text = manifest(pe)
    if text is None:
        problems.append("no manifest resource")
    else:
        problems += [f"manifest lacks {must.decode()}" for must in MANIFEST_MUST_HOLD if must not in text]
        if with_code_page and UTF8_CODE_PAGE not in text:
            problems.append("manifest lacks the UTF-8 code page")
        if not with_code_page and b"activeCodePage" in text:
            problems.append("manifest has a code page entry, which this build must lack")
        if f'version="{version}.0"'.encode() not in text:
            problems.append(f"manifest's assemblyIdentity is not version {version}.0")

    numbers = [int(part) for part in version.split(".")] + [0]
    packed = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    if fixed is None or (fixed.FileVersionMS, fixed.FileVersionLS) != packed or \
            (fixed.ProductVersionMS, fixed.ProductVersionLS) != packed:
        problems.append(f"fixed file and product version are not {version}.0")
    strings = version_strings(pe)
    expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "Zandrel",
                "OriginalFilename": "Zandrel.exe", "InternalName": "Zandrel.exe",
                "LegalCopyright": "Copyright (C) 2022. All rights reserved."}
    problems += [f"version resource {key} is {strings.get(key)!r}, expected {value!r}"
                 for key, value in expected.items() if strings.get(key) != value]
    if not strings.get("FileDescription"):
        problems.append("version resource has no FileDescription")

    print(f"imports: {', '.join(dlls)}; manifest: {len(text or b'')} bytes")
    if fixed:
        print(f"fixed file version {fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}."
              f"{fixed.FileVersionLS >> 16}.{fixed.FileVersionLS & 0xFFFF}")
    for key, value in strings.items():
        print(f"  {key}: {value}")
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
