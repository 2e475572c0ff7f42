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
# gpg-agent, apt-utils and xz-utils. Nothing in DIST changes unless all of it succeeds.
# With an Authenticode certificate and key, the Windows program and installer
# are signed too, as the release root makes them: the release is made again
# there from its commit (which the work tree must be), the program signed,
# the zip and the installer made around it and the installer signed, each
# signature kept as PEM beside them; the rest must come out as DIST has it.
#   scripts/sign-release.sh --openpgp-key FINGERPRINT [--address URL]
#       [--authenticode-certificate CERT.pem --authenticode-key KEY.pem
#        [--timestamp-url URL]] DIST
set -euo pipefail
# Where the repository is published: the folder that holds dists/ and pool/.
address=https://zandrel.example.org/apt
cd "$(dirname "$0")/.."
scripts=$PWD/scripts

usage() {
    echo "usage: scripts/sign-release.sh --openpgp-key FINGERPRINT [--address URL]" \
        "[--authenticode-certificate CERT.pem --authenticode-key KEY.pem [--timestamp-url URL]] DIST" >&2
    exit 2
}
fingerprint="" dist="" certificate="" key_file="" timestamp_url=""
while (($#)); do
    case $1 in
        --openpgp-key) fingerprint=${2:-}; shift ;;
        --address) address=${2:-}; shift ;;
        --authenticode-certificate) certificate=${2:-}; shift ;;
        --authenticode-key) key_file=${2:-}; shift ;;
        --timestamp-url) timestamp_url=${2:-}; shift ;;
        -*) usage ;;
        *) [[ -z $dist ]] || usage; dist=$1 ;;
    esac
    shift
done
[[ -n $fingerprint && -n $dist && -n $address ]] || usage
# The Authenticode certificate and key come together, or not at all.
[[ -n $certificate && -n $key_file || -z $certificate$key_file$timestamp_url ]] || usage
scripts/install-packages.sh gpg gpg-agent apt-utils xz-utils
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
remade=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-authenticode-XXXXXX")
trap 'rm -rf "$stage" "$remade"' EXIT
artefacts=$dist

if [[ -n $certificate ]]; then
    [[ -f $certificate && -f $key_file ]] || fail "no Authenticode certificate $certificate or key $key_file"
    scripts/at-release-commit.sh "$dist/BUILDINFO" >&2 ||
        fail "the Windows program is signed as the release root makes it: sign from the release's commit"
    mkdir -m 700 "$remade/keys"
    cp "$certificate" "$remade/keys/certificate.pem"
    cp "$key_file" "$remade/keys/key.pem"
    [[ -z $timestamp_url ]] || echo "$timestamp_url" >"$remade/keys/timestamp-url"
    echo "== sign-release: the release made again, its Windows program and installer signed"
    scripts/release.sh --packages "$dist/BUILDINFO" --authenticode "$remade/keys" --output "$remade/dist" |
        grep '^== release: the root took\|^== release: done' || true
    [[ -f $remade/dist/SHA256SUMS ]] || fail "the release could not be made again (build/release-root.log)"
    rm -rf "$remade/keys"
    while read -r line; do
        [[ $line == *-Windows-x86_64.* ]] || grep -qxF "$line" "$remade/dist/SHA256SUMS" ||
            fail "made again, ${line#*  } is not what $dist holds"
    done <<<"$unsigned_sums"
    unsigned_sums=$(<"$remade/dist/SHA256SUMS")
    artefacts=$remade/dist
fi
signing_time=$(date -u -d "@$epoch" +%Y%m%dT%H%M%S)
# gpg warns of the pinned time at every call; that is no news here.
gpg_sign() {
    gpg --batch --yes --quiet --faked-system-time "$signing_time!" --local-user "$fingerprint" "$@" \
        2> >(grep -v 'running with faked system time' >&2)
}

while read -r _ name; do cp "$artefacts/$name" "$artefacts/$name.sha256" "$stage/"; done <<<"$unsigned_sums"
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
