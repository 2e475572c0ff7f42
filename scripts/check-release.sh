#!/usr/bin/env bash
# Checks a published release against its sources: makes it again from this
# work tree into build/check-release (never dist/, which stays as it is), in
# a release root holding every package at the version its BUILDINFO lists
# (with its Authenticode signatures attached, time-stamped or not, where it
# has them), and compares each artefact byte for byte with the sum SHA256SUMS
# gives and with the published file, where the folder has it. A
# signed release's apt repository is made again from the rebuilt packages and
# compared the same way, and its signatures (SHA256SUMS.asc, InRelease,
# Release.gpg) are verified with the key it publishes, whose fingerprint is
# printed: compare it with the one the maintainers give. Its RPM repository's
# packages must be the rebuilt ones with a signature by that key, and its
# metadata, signed by it too, must name each with its sum.
# Exit codes (scripts/lib.sh): 0 every artefact the same and every signature
# good; 1 one differs, a signature is bad, or the release root refused what
# FOLDER holds; 2 usage, a missing file, or the release could not be made
# again; 3 the mirror lacks a package version (nothing is built then).
#   scripts/check-release.sh FOLDER        FOLDER holds SHA256SUMS and BUILDINFO,
#                                          with or without the artefacts
#   ZANDREL_MIRROR=URL scripts/check-release.sh FOLDER   packages from that mirror
#   scripts/check-release.sh --rebuilt DIST FOLDER       compare with DIST, the
#       release already made again (scripts/release.sh --packages BUILDINFO)
# The work tree must be the commit BUILDINFO names, its tracked files unchanged.
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
usage() { die 2 "usage: scripts/check-release.sh [--rebuilt DIST] FOLDER (with SHA256SUMS and BUILDINFO)"; }
rebuilt=""
if [[ ${1:-} == --rebuilt ]]; then
    (($# == 3)) || usage
    [[ -d $2 ]] || die 2 "no folder $2"
    rebuilt=$(realpath -- "$2")
    shift 2
fi
(($# == 1)) || usage
[[ -d $1 ]] || die 2 "no folder $1"
folder=$(realpath -- "$1")
cd "$zandrel_top"
for file in SHA256SUMS BUILDINFO; do
    [[ -f $folder/$file ]] || die 2 "$folder has no $file"
done
# Where the release is made again, in place of the last check's.
remade=$zandrel_top/build/check-release
[[ $folder/ != "$remade"/* ]] ||
    die 2 "$folder is inside $remade, which the check makes the release again in: copy it elsewhere first"
keyring=apt/$apt_keyring
release=apt/dists/$apt_suite/Release

# Copies of what is checked, taken before anything is made.
published=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-published-XXXXXX")
trap 'rm -rf "$published"' EXIT
cp "$folder/SHA256SUMS" "$folder/BUILDINFO" "$published/"
while read -r _ name; do
    if [[ -f $folder/$name ]]; then
        mkdir -p "$(dirname "$published/$name")" && cp "$folder/$name" "$published/$name"
    fi
done <"$published/SHA256SUMS"
signed=0
if [[ -f $folder/SHA256SUMS.asc ]] || grep -q '  apt/' "$published/SHA256SUMS"; then
    signed=1
    signatures=(SHA256SUMS.asc "${release%Release}InRelease" "$release.gpg" "$keyring" apt/zandrel.sources)
    grep -q '  rpm/' "$published/SHA256SUMS" && signatures+=(rpm/repodata/repomd.xml.asc)
    for name in "${signatures[@]}"; do
        [[ -f $folder/$name ]] || die 2 "a signed release, but $folder has no $name"
        mkdir -p "$(dirname "$published/$name")" && cp "$folder/$name" "$published/$name"
    done
    scripts/install-packages.sh gpg gpgv apt-utils xz-utils rpm python3
fi

# The Authenticode signatures of the Windows program and installer, which the
# rebuild attaches: each must be the one SHA256SUMS names.
mkdir "$published/authenticode"
while read -r expected name; do
    [[ $name == *.authenticode.pem ]] || continue
    if [[ ! -f $published/$name ]]; then
        die 2 "$folder has no $name, which the signed Windows program is made again with"
    elif [[ $(sha256sum <"$published/$name") != "$expected  -" ]]; then
        die 1 "DIFFERENT  $name: not the signature SHA256SUMS names, so it cannot be attached"
    fi
    cp "$published/$name" "$published/authenticode/"
done <"$published/SHA256SUMS"
authenticode=()
[[ -z $(ls "$published/authenticode") ]] || authenticode=(--authenticode "$published/authenticode")

if [[ -z $rebuilt ]]; then
    scripts/at-release-commit.sh "$published/BUILDINFO"
    # Its exit code is the check's: 1 refused, 2 not made, 3 a package version missing.
    scripts/release.sh --packages "$published/BUILDINFO" "${authenticode[@]}" --output "$remade" || exit
    echo "== check: the release made again is in $remade"
    rebuilt=$remade
fi

differences=() # what is not as it should be
if ((signed)); then
    # gpg reads the published keys in a home of its own, not the caller's.
    export GNUPGHOME=$published/gnupg
    mkdir -m 700 "$GNUPGHOME"
    echo
    echo "== check: the signatures, with the key the release publishes:"
    gpg --batch --quiet --show-keys --with-fingerprint "$published/$keyring" 2>/dev/null | sed '/./s/^/    /'
    # The repository again, from the rebuilt packages, at the address published.
    address=$(sed -n 's/^URIs: //p' "$published/apt/zandrel.sources")
    scripts/apt-repository.sh "$rebuilt" "$published/rebuilt-apt" "$address"
    verdict() { # name, what is wrong where it fails, then the check
        if "${@:3}" >/dev/null 2>&1; then
            echo "good       $1"
        else
            echo "BAD        $1: $2"
            differences+=("BAD        $1: $2")
        fi
    }
    check_signature() { # name, then the verification that must pass
        verdict "$1" "not a good signature by that key over the rebuilt bytes" "${@:2}"
    }
    gpgv=(gpgv --quiet --keyring "$published/$keyring")
    check_signature SHA256SUMS.asc "${gpgv[@]}" "$published/SHA256SUMS.asc" "$published/SHA256SUMS"
    check_signature "$release.gpg" "${gpgv[@]}" "$published/$release.gpg" "$published/rebuilt-$release"
    # InRelease must be the rebuilt Release, signed.
    in_release_is_rebuilt_release() {
        "${gpgv[@]}" --output "$published/InRelease.text" "$published/${release%Release}InRelease" &&
            cmp -s "$published/InRelease.text" "$published/rebuilt-$release"
    }
    check_signature "${release%Release}InRelease" in_release_is_rebuilt_release
    # The RPM repository's signed packages and metadata cannot be made again
    # here (createrepo_c's versions write other bytes): the signatures are
    # verified with the key, which must be the one apt/ publishes, and the
    # metadata must name each package with its sum. Each package, but for
    # its signature, is compared with the rebuilt one below.
    if grep -q '  rpm/' "$published/SHA256SUMS"; then
        rpm_keyring=$published/rpm-keyring.gpg
        gpg --batch --quiet --dearmor <"$published/rpm/$rpm_key" >"$rpm_keyring"
        fingerprints() { gpg --batch --with-colons --show-keys "$1" 2>/dev/null | grep '^fpr'; }
        apt_fingerprints=$(fingerprints "$published/$keyring")
        verdict "rpm/$rpm_key" "not the key apt/ publishes" test "$(fingerprints "$rpm_keyring")" = "$apt_fingerprints"
        check_signature rpm/repodata/repomd.xml.asc gpgv --quiet --keyring "$rpm_keyring" \
            "$published/rpm/repodata/repomd.xml.asc" "$published/rpm/repodata/repomd.xml"
        verdict rpm/repodata "the metadata does not name each package with its sum" \
            python3 scripts/rpm-repository.py metadata "$published/rpm"
        rpmkeys --dbpath "$published/rpmdb" --import "$published/rpm/$rpm_key"
        for package in "$published"/rpm/*.rpm; do
            check_signature "rpm/${package##*/}" rpmkeys --dbpath "$published/rpmdb" --checksig "$package"
        done
    fi
fi

echo
echo "== check: each artefact against $folder"
same=0
total=0
while read -r expected name; do
    total=$((total + 1))
    problem=""
    case $name in
        # Not made again: the signed SHA256SUMS holds them, and they are checked above.
        "$keyring" | rpm/*) made=$published/$name ;;
        apt/*) made=$published/rebuilt-$name ;;
        *) made=$rebuilt/$name ;;
    esac
    if [[ ! -f $made ]]; then
        problem="the rebuild made no such file"
    elif [[ $(sha256sum <"$made") != "$expected  -" ]]; then
        problem="the rebuilt bytes are not those SHA256SUMS names"
    elif [[ -f $published/$name ]] && ! cmp -s "$published/$name" "$made"; then
        problem="the published file's bytes are not the rebuilt ones, nor those SHA256SUMS names"
    elif [[ $name == rpm/*.rpm ]] &&
        ! python3 scripts/rpm-repository.py package "$made" "$rebuilt/${name#rpm/}" 2>/dev/null; then
        problem="not the package made again, with a signature"
    fi
    # Another mirror, named on purpose, changes that line of the published BUILDINFO alone.
    if [[ $name == BUILDINFO && -n $problem && $(sha256sum <"$published/BUILDINFO") == "$expected  -" ]] &&
        cmp -s <(grep -v '^mirror: ' "$published/BUILDINFO") <(grep -v '^mirror: ' "$rebuilt/BUILDINFO"); then
        problem=""
        name+=" (but for the mirror it names)"
    fi
    if [[ -n $problem ]]; then
        echo "DIFFERENT  $name: $problem"
        differences+=("DIFFERENT  $name: $problem")
    else
        echo "same       $name"
        same=$((same + 1))
    fi
done <"$published/SHA256SUMS"
echo "$same of $total artefacts the same"
((${#differences[@]} == 0)) || die 1 "not the release this commit makes:"$'\n'"$(printf '%s\n' "${differences[@]}")"
