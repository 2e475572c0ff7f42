#!/usr/bin/env python3
"""What scripts/check-release.sh holds a release's RPM repository to, where
it cannot make the signed bytes again: a signed package is the package made
again but for its signature, and the repository's metadata names every
package of the folder with its own sums, and no other.

  rpm-repository.py package SIGNED UNSIGNED
      exit 0 where SIGNED is UNSIGNED with a signature: the same lead,
      header and payload, the signature header alone differing.
  rpm-repository.py metadata FOLDER
      exit 0 where FOLDER/repodata/repomd.xml gives each of its files' sums,
      and primary.xml lists FOLDER's packages, each with its sum.
Else it says what differs, on standard error, and exits 1; 2 for usage.
"""
import gzip
import hashlib
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

REPO = "{http://linux.duke.edu/metadata/repo}"
COMMON = "{http://linux.duke.edu/metadata/common}"
LEAD = 96  # bytes, before the signature header


def without_signature(path):
    """The package's lead, and what follows its signature header."""
    with open(path, "rb") as package:
        data = package.read()
    magic, _, count, size = struct.unpack(">4s4sII", data[LEAD:LEAD + 16])
    if magic[:3] != b"\x8e\xad\xe8":
        sys.exit(f"rpm-repository: {path} is no RPM package")
    end = LEAD + 16 + 16 * count + size
    end += -end % 8  # the signature header is padded to 8 bytes
    return data[:LEAD] + data[end:]


def sha256(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def metadata(folder):
    problems = []
    repomd = ElementTree.parse(os.path.join(folder, "repodata", "repomd.xml")).getroot()
    primary = None
    for data in repomd.findall(REPO + "data"):
        location = data.find(REPO + "location").get("href")
        checksum = data.find(REPO + "checksum")
        if checksum.get("type") != "sha256" or checksum.text != sha256(os.path.join(folder, location)):
            problems.append(f"{location}: not the sum repomd.xml gives")
        if data.get("type") == "primary":
            primary = os.path.join(folder, location)
    listed = {}
    with gzip.open(primary) as text:
        for package in ElementTree.parse(text).getroot().findall(COMMON + "package"):
            listed[package.find(COMMON + "location").get("href")] = package.find(COMMON + "checksum").text
    packages = sorted(name for name in os.listdir(folder) if name.endswith(".rpm"))
    if sorted(listed) != packages:
        problems.append(f"primary.xml lists {sorted(listed)}, the folder holds {packages}")
    for name in packages:
        if listed.get(name) not in (None, sha256(os.path.join(folder, name))):
            problems.append(f"primary.xml gives another sum for {name}")
    return problems


def main(arguments):
    if arguments[:1] == ["package"] and len(arguments) == 3:
        if without_signature(arguments[1]) != without_signature(arguments[2]):
            sys.exit(f"rpm-repository: {arguments[1]} is not {arguments[2]} with a signature")
    elif arguments[:1] == ["metadata"] and len(arguments) == 2:
        problems = metadata(arguments[1])
        if problems:
            sys.exit("rpm-repository: " + "; ".join(problems))
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)


if __name__ == "__main__":
    main(sys.argv[1:])
