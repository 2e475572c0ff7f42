#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
"""What each program of a release holds of other people's code, found from
the linker's own map, and what follows from it. Run by
scripts/release.py, in the release root, whose Debian packages
are the ones the programs were linked from.

  release-contents.py program BUILD VERSION PROCESSOR
      after the build in BUILD: BUILD/libraries.json, each Debian package
      whose files the linker took into BUILD's program, with its version and
      source package; BUILD/THIRD-PARTY-NOTICES.txt, Zandrel's licence and
      each such package's copyright file whole, with the licence texts they
      name; for Linux, BUILD/copyright, the Debian package's, in Debian's
      machine-readable format, BUILD/static-built-using, the Debian field's
      value, and BUILD/licence, the RPM package's License field.
  release-contents.py sbom-update BILL ARTEFACT=PROGRAM...
      the bill with the sums of those artefacts beside it, and of the
      program file in each, made afresh (after Authenticode signing).
  release-contents.py sbom OUTPUT CONTENTS VERSION COMMIT EPOCH
      OUTPUT/Zandrel-VERSION.cdx.json, a CycloneDX 1.6 bill of materials
      of the artefacts in OUTPUT that CONTENTS lists (a line each: the
      artefact, the program's path in it, the program file, its build
      folder; for the source release, the artefact alone), the program in
      each and the libraries in each program.
"""
import hashlib
import json
import os
import re
import subprocess
import sys
import textwrap
import uuid

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# What the linker cannot say of a library: its licence as an SPDX expression,
# and who made it. By the Debian source package's name (its start, where
# Debian makes one per compiler version or target).
LIBRARIES = [
    (("musl",), "MIT", "musl contributors", "https://musl.libc.org/"),
    (("mingw-w64",), "ZPL-2.1", "The mingw-w64 project", "https://www.mingw-w64.org/"),
    (("gcc",), "GPL-3.0-or-later WITH GCC-exception-3.1", "Free Software Foundation", "https://gcc.gnu.org/"),
    # glibc, where a Debian release has no musl for the target (12's riscv64),
    # and Debian's cross-built copies of it.
    (("glibc", "cross-toolchain-base"), "LGPL-2.1-or-later", "The GNU C Library contributors",
     "https://www.gnu.org/software/libc/"),
]
DEBIAN = {"name": "Debian", "url": ["https://www.debian.org/"]}
# Zandrel's own licence (LICENSE.txt), as SPDX names it.
ZANDREL_LICENCE = "BSD-2-Clause"
ZANDREL = {"name": "Zandrel developers", "url": ["https://zandrel.example.org/"]}


def fail(message):
    sys.exit(f"release-contents: {message}")


def library_facts(source):
    for starts, licence, creator, url in LIBRARIES:
        if any(source == start or source.startswith(start + "-") for start in starts):
            return licence, creator, url
    fail(f"the program holds code of the Debian source package {source}, whose licence and maker "
         "scripts/release-contents.py does not know: add them to LIBRARIES")


def linked_files(build, map_file):
    """The files of others that the linker took: each archive it took a
    member of, and each object it loaded, outside the build folder."""
    files = []
    section = None
    with open(map_file, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            if line.startswith("Archive member included"):
                section = "archives"
            elif line.startswith(("Discarded input sections", "Memory Configuration", "Allocating common")):
                section = None
            elif line.startswith("Linker script and memory map"):
                section = "loaded"
            elif section == "archives" and line.startswith("/"):
                files.append(line.split("(", 1)[0])
            elif section == "loaded" and line.startswith("LOAD /") and line.rstrip().endswith(".o"):
                files.append(line[5:].strip())
    build = os.path.realpath(build) + os.sep
    taken = []
    for path in files:
        if not os.path.realpath(path).startswith(build) and path not in taken:
            taken.append(path)
    if not taken:
        fail(f"{map_file} names no file the program was linked from")
    return taken


def owner(path):
    """The Debian package that holds the file, as dpkg names it."""
    for candidate in (path, os.path.realpath(path)):
        found = subprocess.run(["dpkg", "-S", candidate], capture_output=True, text=True)
        for line in found.stdout.splitlines():
            package, _, owned = line.partition(": ")
            if owned == candidate:
                return package.split(", ")[0]
    fail(f"no Debian package holds {path}, which the program was linked from")


def package_facts(package):
    fields = ["binary:Package", "Version", "Architecture", "source:Package", "source:Version"]
    shown = subprocess.run(["dpkg-query", "-W", "-f=" + "\t".join("${%s}" % f for f in fields), package],
                           capture_output=True, text=True, check=True).stdout
    return dict(zip(["package", "version", "architecture", "source", "source_version"], shown.split("\t")))


def libraries(build):
    packages = {}
    for path in linked_files(build, os.path.join(build, "Zandrel.map")):
        package = owner(path)
        packages.setdefault(package, []).append(os.path.basename(path))
    found = []
    for package in sorted(packages):
        facts = package_facts(package)
        facts["files"] = sorted(set(packages[package]))
        facts["licence"], facts["creator"], facts["url"] = library_facts(facts["source"])
        found.append(facts)
    return found


def copyright_file(package):
    name = package.split(":")[0]
    path = f"/usr/share/doc/{name}/copyright"
    if not os.path.exists(path):
        fail(f"{name} has no {path}")
    return path


def common_licences(text):
    """The texts in /usr/share/common-licenses that a copyright file names,
    each once (GPL is GPL-3 there)."""
    named = re.findall(r"/usr/share/common-licenses/([A-Za-z0-9.+-]*[A-Za-z0-9+])", text)
    paths = [os.path.realpath(f"/usr/share/common-licenses/{n}") for n in named]
    return [path for path in dict.fromkeys(paths) if os.path.isfile(path)]


def read(path):
    with open(path, encoding="utf-8") as text:
        return text.read()


def zandrel_licence():
    return read(os.path.join(TOP, "LICENSE.txt"))


def notices(found, version, processor, program):
    parts = [f"Zandrel {version} for {processor}: whose code {program} holds, and on which terms\n\n"
             f"{program} is linked statically. Besides Zandrel's own code, under the licence below, it\n"
             "holds code of these libraries, each from the Debian package named, in the release root\n"
             "that made it (BUILDINFO lists its every package):\n\n"]
    for library in found:
        parts.append(f"  {library['source']} {library['source_version']} ({library['licence']}): "
                     f"{', '.join(library['files'])}, from {library['package']} {library['version']}\n")
    parts.append("\nEach package's copyright file follows whole, then each licence text that these files\n"
                 "name in /usr/share/common-licenses.\n")
    parts.append("\n==== Zandrel\n\n" + zandrel_licence())
    licences = []
    for library in found:
        path = copyright_file(library["package"])
        text = read(path)
        parts.append(f"\n==== {library['package']} {library['version']}: {path}\n\n{text}")
        licences += [name for name in common_licences(text) if name not in licences]
    for path in licences:
        parts.append(f"\n==== {path}\n\n{read(path)}")
    return "".join(parts)


def dep5_paragraphs(text):
    """The paragraphs of a copyright file in Debian's machine-readable format,
    each a dict of its fields; none where the file is in another form."""
    if not text.startswith("Format:"):
        return []
    paragraphs = []
    for block in re.split(r"\n\s*\n", text):
        fields, name = {}, None
        for line in block.splitlines():
            if line[:1] in (" ", "\t") and name:
                fields[name] += "\n" + line
            elif ":" in line:
                name, _, value = line.partition(":")
                fields[name] = value.strip()
        paragraphs.append(fields)
    return paragraphs


def copyright_lines(text, maker):
    """A library's copyright lines: those of its machine-readable file's
    paragraph for every file, or else the lines of the file that name its
    maker, each once."""
    for fields in dep5_paragraphs(text):
        if fields.get("Files", "").split() == ["*"] and "Copyright" in fields:
            lines = fields["Copyright"].splitlines()
            break
    else:
        lines = [line for line in text.splitlines() if re.search(r"Copyright (\(C\)|©) [0-9]", line) and maker in line]
    lines = [re.sub(r"^[\s#*/;]*(Copyright (\(C\)|©) )?", "", line).strip() for line in lines]
    return list(dict.fromkeys(line for line in lines if line))


def indented(text):
    return "\n".join(" " + line if line.strip() else " ." for line in text.rstrip("\n").splitlines())


def wrapped(text):
    return indented("\n".join(textwrap.wrap(text, 78)))


def debian_copyright(found, program):
    """The Debian package's copyright file: Zandrel's own terms for all of
    it, and for the program the libraries' too."""
    own = [line for line in zandrel_licence().splitlines() if line.startswith("Copyright")]
    own_lines = [re.sub(r"^Copyright (\(C\) )?(.*?)\.?( All rights reserved\.)?$", r"\2", line) for line in own]
    held = ", ".join(f"{library['source']} {library['source_version']} (the package {library['package']})"
                     for library in found)
    lines = own_lines[:]
    for library in found:
        lines += copyright_lines(read(copyright_file(library["package"])), library["creator"])
    short_names = [ZANDREL_LICENCE] + list(dict.fromkeys(library["licence"] for library in found))
    paragraphs = [
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
        "Upstream-Name: Zandrel\n"
        "Comment:\n" + wrapped(
            f"{program} is linked statically: besides Zandrel's own code, it holds code of {held}. "
            "THIRD-PARTY-NOTICES.txt, beside this file, holds the copyright file of each of those "
            "packages whole, and the licence texts they name."),
        "Files: *\nCopyright: " + "\n           ".join(own_lines) + "\nLicense: " + ZANDREL_LICENCE,
        f"Files: {program}\nCopyright: " + "\n           ".join(lines) +
        "\nLicense: " + " and ".join(short_names),
        f"License: {ZANDREL_LICENCE}\n" + indented(zandrel_licence()),
    ]
    for library in found:
        if library["licence"] in short_names[1:]:
            short_names.remove(library["licence"])
            path = copyright_file(library["package"])
            named = common_licences(read(path))
            paragraphs.append(f"License: {library['licence']}\n" + wrapped(
                f"The terms of {library['source']}, as its Debian package {library['package']} gives them in "
                f"{path}. THIRD-PARTY-NOTICES.txt holds that file whole" +
                (f", and the licence texts it names: {', '.join(named)}." if named else ".")))
    return "\n\n".join(paragraphs) + "\n"


def program_command(build, version, processor):
    found = libraries(build)
    with open(os.path.join(build, "libraries.json"), "w", encoding="utf-8") as out:
        json.dump(found, out, indent=2)
        out.write("\n")
    windows = processor.startswith("Windows")
    program = "Zandrel.exe" if windows else "usr/bin/Zandrel"
    with open(os.path.join(build, "THIRD-PARTY-NOTICES.txt"), "w", encoding="utf-8") as out:
        out.write(notices(found, version, processor, "Zandrel.exe" if windows else "bin/Zandrel"))
    if windows:
        return
    with open(os.path.join(build, "copyright"), "w", encoding="utf-8") as out:
        out.write(debian_copyright(found, program))
    sources = dict.fromkeys(f"{library['source']} (= {library['source_version']})" for library in found)
    with open(os.path.join(build, "static-built-using"), "w", encoding="utf-8") as out:
        out.write(", ".join(sources) + "\n")
    # The RPM package's License field: its terms and those of the code it holds.
    with open(os.path.join(build, "licence"), "w", encoding="utf-8") as out:
        out.write(" AND ".join(dict.fromkeys([ZANDREL_LICENCE] + [library["licence"] for library in found])) + "\n")


def hashes(path):
    with open(path, "rb") as data:
        content = data.read()
    return [{"alg": "SHA-256", "content": hashlib.sha256(content).hexdigest()},
            {"alg": "SHA-512", "content": hashlib.sha512(content).hexdigest()}]


def properties(filename, executable, archive, structured, more=()):
    # The properties BSI TR-03183-2 asks of each component.
    return [{"name": "bsi:component:filename", "value": filename},
            {"name": "bsi:component:executable", "value": "executable" if executable else "non-executable"},
            {"name": "bsi:component:archive", "value": "archive" if archive else "no archive"},
            {"name": "bsi:component:structured", "value": "structured" if structured else "unstructured"},
            *more]


def purl(library):
    name, _, architecture = library["package"].partition(":")
    version = library["version"].replace(":", "%3A").replace("+", "%2B")
    return f"pkg:deb/debian/{name}@{version}?arch={architecture or library['architecture']}"


def sbom_command(output, contents, version, commit, epoch):
    timestamp = subprocess.run(["date", "-u", "-d", "@" + epoch, "+%Y-%m-%dT%H:%M:%SZ"],
                               capture_output=True, text=True, check=True).stdout.strip()
    licence = {"license": {"id": ZANDREL_LICENCE, "text": {"content": zandrel_licence()},
                           "acknowledgement": "concluded"}}
    artefacts, libraries_seen, dependencies = [], {}, []
    with open(contents, encoding="utf-8") as lines:
        rows = [line.rstrip("\n").split("\t") for line in lines if line.strip()]
    for artefact, inside, program_file, build in rows:
        entry = {
            "type": "file", "bom-ref": artefact, "supplier": ZANDREL, "manufacturer": ZANDREL,
            "name": artefact, "version": version, "hashes": hashes(os.path.join(output, artefact)),
            "licenses": [licence],
            "properties": properties(artefact, False, True, True, [
                {"name": "zandrel:kind", "value": artefact.rsplit(".", 1)[-1] if inside else "source"}]),
        }
        artefacts.append(entry)
        if not inside:  # the source release, which holds no program
            dependencies.append({"ref": artefact, "dependsOn": []})
            continue
        with open(os.path.join(build, "libraries.json"), encoding="utf-8") as found:
            found = json.load(found)
        program_ref = f"{artefact}/{inside}"
        library_refs = []
        for library in found:
            ref = purl(library)
            library_refs.append(ref)
            if ref in libraries_seen:
                continue
            creator_licence, creator, url = library["licence"], library["creator"], library["url"]
            libraries_seen[ref] = {
                "type": "library", "bom-ref": ref, "supplier": DEBIAN,
                "manufacturer": {"name": creator, "url": [url]},
                "name": library["source"], "version": library["version"],
                "licenses": [{"expression": creator_licence, "acknowledgement": "concluded"}],
                "purl": ref,
                "properties": properties(", ".join(library["files"]), False, True, True, [
                    {"name": "debian:package", "value": library["package"]},
                    {"name": "debian:source", "value": f"{library['source']} {library['source_version']}"}]),
            }
        dependencies.append({"ref": program_ref, "dependsOn": library_refs})
        entry["components"] = [{
            "type": "application", "bom-ref": program_ref, "supplier": ZANDREL, "manufacturer": ZANDREL,
            "name": "Zandrel", "version": version, "hashes": hashes(program_file), "licenses": [licence],
            "properties": properties(os.path.basename(inside), True, False, False,
                                     [{"name": "zandrel:path", "value": inside}]),
        }]
        dependencies.append({"ref": artefact, "dependsOn": [program_ref]})
    dependencies.append({"ref": "zandrel", "dependsOn": [a["bom-ref"] for a in artefacts]})
    # Each library's entry too, empty: whatever one needs of another, the
    # program holds, and names among its own.
    dependencies += [{"ref": ref, "dependsOn": []} for ref in libraries_seen]
    bom = {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "serialNumber": "",
        "version": 1,
        "metadata": {
            "timestamp": timestamp,
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": [{"type": "application", "name": "scripts/release-contents.py",
                                      "version": version, "supplier": ZANDREL}]},
            "manufacturer": ZANDREL,
            "component": {
                "type": "application", "bom-ref": "zandrel", "supplier": ZANDREL, "manufacturer": ZANDREL,
                "name": "Zandrel", "version": version, "licenses": [licence],
                "properties": [{"name": "zandrel:commit", "value": commit}],
            },
        },
        "components": artefacts + list(libraries_seen.values()),
        "dependencies": dependencies,
    }
    write_bom(bom, os.path.join(output, f"Zandrel-{version}.cdx.json"))


def serial_number(bom):
    """The same release gives the same bill, and another release another
    serial number: one made from the bill's own content."""
    bom["serialNumber"] = ""
    content = json.dumps(bom, sort_keys=True).encode()
    bom["serialNumber"] = "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, hashlib.sha256(content).hexdigest()))


def write_bom(bom, path):
    serial_number(bom)
    with open(path, "w", encoding="utf-8") as out:
        json.dump(bom, out, indent=2)
        out.write("\n")


def sbom_update_command(path, *changed):
    """The bill with the sums of the artefacts named (ARTEFACT=PROGRAM, each
    beside the bill), and of the program in each, made afresh: what signing
    the Windows program and installer changes."""
    with open(path, encoding="utf-8") as text:
        bom = json.load(text)
    programs = dict(entry.split("=", 1) for entry in changed)
    for component in bom["components"]:
        if component["name"] in programs:
            component["hashes"] = hashes(os.path.join(os.path.dirname(path), component["name"]))
            component["components"][0]["hashes"] = hashes(programs[component["name"]])
    write_bom(bom, path)


def main(arguments):
    if arguments[:1] == ["program"] and len(arguments) == 4:
        program_command(*arguments[1:])
    elif arguments[:1] == ["sbom"] and len(arguments) == 6:
        sbom_command(*arguments[1:])
    elif arguments[:1] == ["sbom-update"] and len(arguments) > 2:
        sbom_update_command(*arguments[1:])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)


if __name__ == "__main__":
    main(sys.argv[1:])
