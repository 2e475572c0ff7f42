# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# shellcheck shell=bash
# What the scripts share, sourced by each (never run on its own): the one
# contract for exit codes and messages, the table of the release's programs,
# and the packages each use needs.
#
# Every script ends with
#   0  done;
#   1  a difference found, a bad signature, or a refusal;
#   2  usage, a missing input, or nothing could start (a failed build too);
#   3  the mirror lacks a package version (nothing was built).
# and writes every error to standard error, naming itself and what failed.

zandrel_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
zandrel_script=$(basename "$0" .sh)

die() { # code message...: the message on standard error, then that exit code
    local code=$1
    shift
    echo "$zandrel_script: $*" >&2
    exit "$code"
}

# A value of cmake/release.json, which CMake and scripts/release.py read
# too: `targets`, the cross-built programs' names; `target NAME FIELD`, a
# field of a Linux program (a list comma-separated); or a path of keys.
release_table() {
    if ! command -v python3 >/dev/null && ((EUID == 0)) && command -v apt-get >/dev/null; then
        { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q python3; } >/dev/null ||
            die 2 "apt-get could not install python3, which reads cmake/release.json"
    fi
    python3 - "$zandrel_top/cmake/release.json" "$@" <<'PYTHON'
import json, sys
table, query = json.load(open(sys.argv[1])), sys.argv[2:]
if query == ["targets"]:
    value = [p["name"] for p in table["linux"] if p["preset"] == "cross"]
elif query[0] == "target":
    found = [p for p in table["linux"] if p["name"] == query[1]]
    if not found:
        sys.exit(f"no target '{query[1]}' in cmake/release.json")
    value = found[0].get(query[2])
else:
    value = table
    for key in query:
        value = value[int(key)] if isinstance(value, list) else value[key]
print(" ".join(value) if query == ["targets"] else ",".join(value) if isinstance(value, list) else value or "-")
PYTHON
}
target_names() { release_table targets | tr ' ' '\n'; }
target_field() { release_table target "$1" "$2" || exit 2; } # target field (triplet, musl, qemu, processor, debian, rpm)
# A target's cross compiler, and its musl for its first Debian architecture,
# marked ? as Debian releases may lack it (Debian 12 has none for riscv64).
target_packages() { # target
    local musl
    musl=$(target_field "$1" musl)
    echo "g++-$(target_field "$1" triplet)"
    [[ $musl == - ]] || echo "musl-dev:$(target_field "$1" debian | cut -d, -f1)?"
}
# The x86-64 processors without AVX2 that the kernel test and the shipped
# program run on, as qemu-x86_64 names them.
x86_64_test_processors() { grep -v '^#' "$zandrel_top/tests/x86_64-processors.txt"; }
# A row of cmake/preset-packages.txt: a preset's packages, or another use's.
row_packages() { # row
    awk -v row="$1" '!/^#/ && $1 == row { for (i = 2; i <= NF; i++) print $i }' "$zandrel_top/cmake/preset-packages.txt"
}
