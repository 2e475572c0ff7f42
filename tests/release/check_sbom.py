# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
"""Holds a release's bill of materials to the release: each artefact's sums
are its file's, each program's the sums of the program taken out of that
artefact as a user would take it (tar, unzip, dpkg-deb, rpm2cpio, msiextract), each
library's version the one BUILDINFO lists for its package, and every field
that BSI TR-03183-2 requires is there; each artefact's notices hold the
copyright file of each library in its program, and each Debian package's
Static-Built-Using field names its source. Prints each finding and exits 1
on any.
    check_sbom.py DIST WORK"""
import hashlib
import io
import json
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

dist, work = Path(sys.argv[1]), Path(sys.argv[2])
bom = json.loads(next(dist.glob("Zandrel-*.cdx.json")).read_text())
findings = []


def sums(content):
    return {"SHA-256": hashlib.sha256(content).hexdigest(), "SHA-512": hashlib.sha512(content).hexdigest()}


def program_inside(artefact, inside):
    path = dist / artefact
    if artefact.endswith(".tar.gz"):
        with tarfile.open(path) as archive:
            return archive.extractfile(inside).read()
    if artefact.endswith(".zip"):
        with zipfile.ZipFile(path) as archive:
            return archive.read(inside)
    if artefact.endswith(".deb"):
        data = subprocess.run(["dpkg-deb", "--fsys-tarfile", path], capture_output=True, check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as archive:
            return archive.extractfile("./" + inside).read()
    if artefact.endswith(".rpm"):
        data = subprocess.run(f"rpm2cpio '{path}' | cpio --quiet -i --to-stdout './{inside}'", shell=True,
                              capture_output=True, check=True).stdout
        return data
    if artefact.endswith(".msi"):
        folder = work / artefact
        subprocess.run(["msiextract", "-C", folder, path], capture_output=True, check=True)
        return next(folder.rglob(inside)).read_bytes()
    raise ValueError(artefact)


def given_sums(component):
    return {entry["alg"]: entry["content"] for entry in component.get("hashes", [])}


def fields_missing(component):
    names = {entry["name"] for entry in component.get("properties", [])}
    missing = [key for key in ("name", "version", "manufacturer", "licenses") if not component.get(key)]
    missing += [name for name in ("bsi:component:filename", "bsi:component:executable",
                                  "bsi:component:archive", "bsi:component:structured") if name not in names]
    return missing


buildinfo = {}
listing = False
for line in (dist / "BUILDINFO").read_text().splitlines():
    if line == "packages:":
        listing = True
    elif listing:
        package, version = line.split()
        buildinfo[package] = version

for key in ("serialNumber", "metadata"):
    if not bom.get(key):
        findings.append(f"the bill has no {key}")
for key in ("timestamp", "manufacturer"):
    if not bom["metadata"].get(key):
        findings.append(f"the bill names no {key}")
references = {entry["ref"]: set(entry.get("dependsOn", [])) for entry in bom["dependencies"]}
artefacts = [c for c in bom["components"] if c["type"] == "file"]
shipped = {line.split()[1] for line in (dist / "SHA256SUMS").read_text().splitlines() if "/" not in line.split()[1]}
not_software = {"BUILDINFO", "SHA256SUMS", next(dist.glob("Zandrel-*.cdx.json")).name}
for name in sorted(shipped - {c["name"] for c in artefacts} - not_software):
    if not name.endswith(".authenticode.pem"):
        findings.append(f"{name}: in the release, not in the bill")
for artefact in artefacts:
    name = artefact["name"]
    if given_sums(artefact) != sums((dist / name).read_bytes()):
        findings.append(f"{name}: the bill's sums are not the file's")
    for program in artefact.get("components", []):
        inside = next(p["value"] for p in program["properties"] if p["name"] == "zandrel:path")
        if given_sums(program) != sums(program_inside(name, inside)):
            findings.append(f"{name}: the bill's sums of {inside} are not those of the program in it")
        # Beside the program on Windows, with the documents on Linux.
        notices_path = inside.replace("bin/Zandrel", "share/doc/zandrel/Zandrel").rsplit("Zandrel", 1)[0]
        notices = program_inside(name, notices_path + "THIRD-PARTY-NOTICES.txt").decode()
        built_using = ""
        if name.endswith(".deb"):
            built_using = subprocess.run(["dpkg-deb", "-f", dist / name, "Static-Built-Using"],
                                         capture_output=True, text=True, check=True).stdout
        for library in (c for c in bom["components"] if c["bom-ref"] in references.get(program["bom-ref"], ())):
            facts = {p["name"]: p["value"] for p in library["properties"]}
            if f"==== {facts['debian:package']} {library['version']}: " not in notices:
                findings.append(f"{name}: its notices lack the copyright file of {facts['debian:package']}")
            source, version = facts["debian:source"].split()
            if name.endswith(".deb") and f"{source} (= {version})" not in built_using:
                findings.append(f"{name}: Static-Built-Using does not name {source} {version}")
        if not references.get(program["bom-ref"]):
            findings.append(f"{name}: {inside} names no library it holds")
        if program["bom-ref"] not in references.get(name, set()):
            findings.append(f"{name}: not said to hold {inside}")
    for component in [artefact] + artefact.get("components", []):
        missing = fields_missing(component)
        if missing:
            findings.append(f"{component['bom-ref']}: no {', '.join(missing)}")
for library in (c for c in bom["components"] if c["type"] == "library"):
    package = next(p["value"] for p in library["properties"] if p["name"] == "debian:package")
    if buildinfo.get(package) != library["version"]:
        findings.append(f"{library['purl']}: version {library['version']}, where BUILDINFO lists "
                        f"{package} {buildinfo.get(package)}")
    missing = fields_missing(library)
    if missing:
        findings.append(f"{library['bom-ref']}: no {', '.join(missing)}")

for finding in findings:
    print(f"FAIL {finding}")
print(f"the bill of materials: {len(artefacts)} artefacts, "
      f"{sum(len(a.get('components', [])) for a in artefacts)} programs, "
      f"{sum(1 for c in bom['components'] if c['type'] == 'library')} libraries; {len(findings)} findings")
sys.exit(1 if findings else 0)
