#!/usr/bin/env bash
# Signs a release that scripts/release.sh made: the maintainers' step, apart
# from the build, which anyone can repeat to the same unsigned bytes. Adds to
# DIST an apt repository of its Debian packages (apt/, signed InRelease and
# Release.gpg), the public key as apt takes it, and SHA256SUMS.asc, an
# armoured detached signature over SHA256SUMS, which then lists the
# repository's files too. Every signature bears the release's time
# (SOURCE_DATE_EPOCH from BUILDINFO), so signing the same release again gives
# the same bytes. The key comes from gpg's keyring (GNUPGHOME honoured); gpg
# runs in batch mode, its agent asking for a passphrase as usual. Needs gpg,
# apt-utils and xz-utils. Nothing in DIST changes unless all of it succeeds.
#   scripts/sign-release.sh --openpgp-key FINGERPRINT [--address URL] DIST
set -euo pipefail
# Where the repository is published: the folder that holds dists/ and pool/.
address=https://zandrel.example.org/apt
cd "$(dirname "$0")/.."
scripts=$PWD/scripts

usage() { echo "usage: scripts/sign-release.sh --openpgp-key FINGERPRINT [--address URL] DIST" >&2; exit 2; }
fingerprint="" dist=""
while (($#)); do
    case $1 in
        --openpgp-key) fingerprint=${2:-}; shift ;;
        --address) address=${2:-}; shift ;;
        -*) usage ;;
        *) [[ -z $dist ]] || usage; dist=$1 ;;
    esac
    shift
done
[[ -n $fingerprint && -n $dist && -n $address ]] || usage
scripts/install-packages.sh gpg apt-utils xz-utils
fail() { echo "sign-release: $*; $dist is as it was" >&2; exit 1; }

# A whole release: BUILDINFO, SHA256SUMS, and every artefact it lists with
# those bytes. A release signed before is signed afresh from the same lines:
# those of its artefacts, whose names hold no folder.
[[ -f $dist/BUILDINFO && -f $dist/SHA256SUMS ]] || fail "no BUILDINFO and SHA256SUMS: not a release"
unsigned_sums=$(grep -v '^[0-9a-f]*  .*/' "$dist/SHA256SUMS" || true)
[[ -n $unsigned_sums ]] || fail "SHA256SUMS lists no artefact"
(cd "$dist" && sha256sum --quiet -c - <<<"$unsigned_sums") >/dev/null 2>&1 ||
    fail "artefacts are missing or differ from SHA256SUMS: not a whole release"
epoch=$(sed -n 's/^SOURCE_DATE_EPOCH: //p' "$dist/BUILDINFO")
[[ $epoch =~ ^[0-9]+$ ]] || fail "BUILDINFO gives no SOURCE_DATE_EPOCH"

# The key: present, able to sign, and no younger than the release, whose time
# every signature bears.
key=$(gpg --batch --with-colons --list-secret-keys -- "$fingerprint" 2>/dev/null) ||
    fail "no secret key $fingerprint in ${GNUPGHOME:-~/.gnupg}"
# Field 12 of the key's line: what the key as a whole can still do, S to sign.
awk -F: '$1 == "sec" && $12 ~ /S/ { found = 1 } END { exit !found }' <<<"$key" ||
    fail "key $fingerprint cannot sign (revoked, expired, or without a signing key)"
created=$(awk -F: '$1 == "sec" { print $6; exit }' <<<"$key")
((created <= epoch)) ||
    fail "key $fingerprint was made after the release's commit ($(date -u -d "@$epoch" '+%F %T UTC')); sign with an older key"

stage=$(mktemp -d "$(dirname "$dist")/.zandrel-signing-XXXXXX")
trap 'rm -rf "$stage"' EXIT
signing_time=$(date -u -d "@$epoch" +%Y%m%dT%H%M%S)
# gpg warns of the pinned time at every call; that is no news here.
gpg_sign() {
    gpg --batch --yes --quiet --faked-system-time "$signing_time!" --local-user "$fingerprint" "$@" \
        2> >(grep -v 'running with faked system time' >&2)
}

while read -r _ name; do cp "$dist/$name" "$dist/$name.sha256" "$stage/"; done <<<"$unsigned_sums"
"$scripts/apt-repository.sh" "$stage" "$stage/apt" "$address"
gpg --batch --quiet --export --export-options export-minimal -- "$fingerprint" >"$stage/apt/zandrel-archive-keyring.gpg" 2>/dev/null
release=$stage/apt/dists/stable/Release
gpg_sign --clearsign --output "${release%Release}InRelease" "$release" &&
    gpg_sign --armor --detach-sign --output "$release.gpg" "$release" || fail "gpg could not sign with $fingerprint"
{
    echo "$unsigned_sums"
    (cd "$stage" && find apt -type f ! -name InRelease ! -name Release.gpg | LC_ALL=C sort | xargs sha256sum)
} >"$stage/SHA256SUMS"
gpg_sign --armor --detach-sign --output "$stage/SHA256SUMS.asc" "$stage/SHA256SUMS" ||
    fail "gpg could not sign with $fingerprint"

# The signed release in the place of the unsigned one.
old=$(mktemp -d "$(dirname "$dist")/.zandrel-unsigned-XXXXXX")
mv "$dist" "$old/dist" && mv "$stage" "$dist" && rm -rf "$old"
echo "signed $dist with $fingerprint: SHA256SUMS.asc, apt/ ($(grep -c '  apt/' "$dist/SHA256SUMS") files and InRelease, Release.gpg)"
