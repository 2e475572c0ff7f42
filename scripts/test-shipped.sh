#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Tests the programs a release ships, as shipped: each taken out of its
# archive in DIST (dist/ by default), as a user would take it. Every Linux
# program must be static, stripped, linked against musl and at most
# max_program_bytes, and passes the end-to-end table and the file past 4 GiB
# under qemu-user on the oldest processor its program in cmake/release.json
# claims (x86-64 natively, and on processors without AVX2). The Windows
# program passes the check of its executable and the table under wine. The
# bill of materials is valid CycloneDX and true to the release: the sums of
# each artefact and of the program in it, the libraries' versions, the
# notices and Debian's Static-Built-Using field.
# Exit codes (scripts/lib.sh): 0 every program passed; 1 one failed a check;
# 2 no release in DIST.
#   scripts/test-shipped.sh [DIST]
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
dist=$(realpath -m -- "${1:-$zandrel_top/dist}")
cd "$zandrel_top"
# A static musl program is some 40 to 70 KB; a C library linked in by mistake
# (glibc's static start alone is some 400 KB) or debugging symbols pass this.
max_program_bytes=$((100 * 1024))

work=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-shipped-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
run_table() { # program [run_cases.py options]
    python3 tests/e2e/run_cases.py --exe "$@" || failures=$((failures + 1))
}

# What glibc's static start leaves behind and musl's does not: the note that
# names the oldest kernel it runs on.
check_linux_program() { # program
    local bytes headers
    bytes=$(stat -c %s "$1")
    headers=$(readelf -lSW "$1")
    ((bytes <= max_program_bytes)) || fail "$1: $bytes bytes, more than $max_program_bytes"
    ! grep -q ' INTERP ' <<<"$headers" || fail "$1: not static (it names a dynamic loader)"
    ! grep -q ' \.symtab ' <<<"$headers" || fail "$1: not stripped"
    ! grep -q ' \.note\.ABI-tag ' <<<"$headers" || fail "$1: linked against glibc, not musl"
    echo "$1: $bytes bytes, static, stripped, musl"
}

archives=("$dist"/Zandrel-*-Linux-*.tar.gz)
[[ -f ${archives[0]} ]] || die 2 "no Linux tarball in $dist: run scripts/release.sh first"
for archive in "${archives[@]}"; do
    name=$(basename "$archive" .tar.gz)
    processor=${name##*-Linux-}
    tar -xzf "$archive" -C "$work"
    program=$work/$name/bin/Zandrel
    echo "== $name"
    check_linux_program "$program"
    if [[ $processor == x86_64 ]]; then
        run_table "$program" --large
        for cpu in $(x86_64_test_processors); do
            echo "-cpu $cpu"
            run_table "$program" --wrapper "qemu-x86_64 -cpu $cpu"
        done
        continue
    fi
    run_table "$program" --wrapper "qemu-$(target_field "$processor" qemu) -cpu $(target_field "$processor" processor)" --large
done

for archive in "$dist"/Zandrel-*-Windows-x86_64.zip; do
    name=$(basename "$archive" .zip)
    echo "== $name"
    python3 -m zipfile -e "$archive" "$work"
    program=$work/$name/Zandrel.exe
    version=${name#Zandrel-}
    /usr/bin/python3 tests/windows/check_executable.py "$program" "${version%%-*}" || fail "$program"
    export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=C.UTF-8
    tests/windows/wine_session.sh start /usr/lib/wine/wineserver /usr/lib/wine/wine64 "$program"
    run_table "$program" --wine /usr/lib/wine/wine64 --large
    tests/windows/wine_session.sh stop /usr/lib/wine/wineserver
done

# The bill of materials: valid CycloneDX 1.6 by the format's own library
# (from the npm registry, into this run's folder), and true to the release.
echo "== the bill of materials"
command -v npm >/dev/null || die 2 "needs npm (Debian's package npm, or another Node.js's own)"
mkdir "$work/validator"
cp tests/release/validate_sbom.js "$work/validator/"
(cd "$work/validator" && npm install --no-audit --no-fund --no-save \
    @cyclonedx/cyclonedx-library@7.1.0 ajv@8 ajv-formats@3 ajv-formats-draft2019@1 >npm.log 2>&1) || {
    tail -n 20 "$work/validator/npm.log" >&2
    die 2 "npm could not install @cyclonedx/cyclonedx-library"
}
node "$work/validator/validate_sbom.js" "$dist"/Zandrel-*.cdx.json || fail "the bill of materials is not valid CycloneDX 1.6"
python3 tests/release/check_sbom.py "$dist" "$work" || fail "the bill of materials is not the release's"

((failures == 0)) || die 1 "$failures of the shipped programs' checks failed"
echo "every shipped program passed"
