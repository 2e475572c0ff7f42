#!/usr/bin/env bash
# Prints what a release was made from and with, for dist/BUILDINFO: the
# commit, SOURCE_DATE_EPOCH, the Debian release, the exact version of every
# package holding a file that went into the bytes (compilers, assemblers,
# linkers, C libraries, CMake and its archive library, tar, gzip, Python,
# dpkg-shlibdeps), and any such file that no package holds. A rebuild whose
# sums differ can tell why by comparing this first.
#   scripts/buildinfo.sh BUILD_FOLDER...   (scripts/release.sh runs it)
# Needs ZANDREL_COMMIT and SOURCE_DATE_EPOCH from release.sh's environment.
set -euo pipefail
cd "$(dirname "$0")/.."

cache_value() { # build folder, variable
    sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

files=()
for folder; do
    compiler=$(cache_value "$folder" CMAKE_CXX_COMPILER)
    files+=("$compiler" "$(cache_value "$folder" CMAKE_RC_COMPILER)")
    for program in cc1plus collect2 as ld; do
        files+=("$("$compiler" -print-prog-name=$program)")
    done
    # C++ headers, compiler runtime, C library; each compiler finds only its own.
    for library in libstdc++.a libgcc.a libc.a libmsvcrt.a; do
        files+=("$("$compiler" -print-file-name=$library)")
    done
    if [[ $(cache_value "$folder" ZANDREL_CAN_LINK_AGAINST_MUSL) == 1 ]]; then
        musl=/usr/lib/$("$compiler" -dumpmachine | sed 's/-gnu$/-musl/')
        files+=("$musl/musl-gcc.specs" "$musl/libc.a")
    fi
done
# The archives' and packages' makers: CMake and its modules (CPack's Debian
# generator among them), which write archives through libarchive and zlib.
# Python makes the zip.
files+=(cmake "$(cache_value "$1" CMAKE_ROOT)/Modules/CPack.cmake" tar gzip sha256sum dpkg-shlibdeps)
files+=(python3 "$(python3 -c 'import zipfile; print(zipfile.__file__)')")
files+=($(ldd "$(command -v cpack)" | awk '/libarchive|libz\.so/ { print $3 }'))

# The paths dpkg may know a file by: its own and the one it links to, each
# also without /usr, as Debian 12 still records most files.
names_of() { # file
    local target
    target=$(readlink -f "$1")
    printf '%s\n' "$1" "${1#/usr}" "$target" "${target#/usr}"
}
resolved=()
for file in "${files[@]}"; do
    [[ -z $file ]] && continue
    [[ $file == */* ]] || file=$(command -v "$file") || continue
    resolved+=("$file")
done
# One look-up for all: each one reads dpkg's whole list of files.
mapfile -t queries < <(for file in "${resolved[@]}"; do names_of "$file"; done)
declare -A owners=()
while IFS= read -r line; do
    owners[/${line#*: /}]=${line%%: /*}
done < <(dpkg-query -S "${queries[@]}" 2>/dev/null | grep -v '^diversion ' || true)

packages=()
unowned=()
for file in "${resolved[@]}"; do
    owned=0
    while IFS= read -r path; do
        # "a, b: /path" where two packages share the file.
        [[ -n ${owners[$path]:-} ]] && packages+=(${owners[$path]//,/ }) && owned=1
    done < <(names_of "$file")
    ((owned)) || unowned+=("$file")
done

echo "Zandrel $(cache_value "$1" CMAKE_PROJECT_VERSION), made by scripts/release.sh"
echo "commit: $ZANDREL_COMMIT"
echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH"
(
    . /etc/os-release
    echo "system: $PRETTY_NAME, Debian $(cat /etc/debian_version), $(dpkg --print-architecture)"
)
echo "packages:"
dpkg-query -W -f='  ${binary:Package} ${Version}\n' "${packages[@]}" | sort -u
if ((${#unowned[@]})); then
    echo "files from no Debian package:"
    printf '  %s\n' "${unowned[@]}" | sort -u
fi
