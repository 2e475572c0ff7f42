#!/usr/bin/env bash
# Signs a release that scripts/release.sh made: the maintainers' step, apart
# from the build, which anyone can repeat to the same unsigned bytes. Adds to
# DIST an apt repository of its Debian packages (apt/, signed InRelease and
# Release.gpg) with the public key as apt takes it; an RPM repository of its
# RPM packages (rpm/: each package signed, signed metadata, the key and a
# .repo file for dnf and zypper); and SHA256SUMS.asc, an armoured detached
# signature over SHA256SUMS, which then lists the repositories' files too. Every OpenPGP signature bears a fixed time, the
# later of the release's (SOURCE_DATE_EPOCH in BUILDINFO) and the signing
# key's making, so signing the same release again gives the same bytes. The
# key comes from gpg's keyring (GNUPGHOME honoured), a smartcard's too; gpg
# runs in batch mode, its agent asking for a passphrase or PIN as usual.
#
# With an Authenticode certificate and key, the Windows program and installer
# are signed too, on this machine: no key ever leaves it. The program from
# DIST's zip is signed first; then the release is made again in its root from
# its commit (which the work tree must be), where that signature is attached
# and the zip and the installer are made around the signed program; the root
# hands the installer out, it is signed here, and the root attaches that
# signature too. Each signature is published as PEM beside them; everything
# else must come out of the root as DIST has it. KEY is a PEM file or a
# PKCS#11 URI of a key on a token or an HSM service, whose library
# --pkcs11-module names; its PIN comes from ZANDREL_PKCS11_PIN, an encrypted
# key file's passphrase from ZANDREL_KEY_PASSPHRASE, else either is asked for
# at the terminal (scripts/authenticode-sign.sh). Each --timestamp-url is
# tried in turn for an RFC 3161 time stamp.
#
# The repository names the address the release is published at, which
# --address URL changes (apt/ is under it).
#
# Needs gpg, gpg-agent, apt-utils, xz-utils, rpm and createrepo-c, and for Authenticode
# osslsigncode, openssl and unzip (with libengine-pkcs11-openssl for a token),
# which it installs when run as root. Whatever fails leaves DIST as it was,
# found before the release is made again where it can be; files in DIST that
# are not the release's are kept. Exit codes (scripts/lib.sh): 0 signed; 1 a
# refusal, with its cause (the key, its PIN or passphrase, the certificate, a
# time-stamp authority, an artefact not what SHA256SUMS says, or not what the
# root makes again); 2 usage, DIST not a release, the work tree not its
# commit, or the release could not be made again; 3 the mirror lacks a
# package version.
#   scripts/sign-release.sh --openpgp-key FINGERPRINT [--address URL]
#       [--authenticode-certificate CHAIN.pem --authenticode-key KEY
#        [--pkcs11-module MODULE.so] [--timestamp-url URL]...] DIST
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
address=$release_address

usage() {
    die 2 "usage: scripts/sign-release.sh --openpgp-key FINGERPRINT [--address URL]" \
        "[--authenticode-certificate CHAIN.pem --authenticode-key KEY [--pkcs11-module MODULE.so]" \
        "[--timestamp-url URL]...] DIST"
}
# Paths given are taken from the folder the script is started in.
fingerprint="" dist="" certificate="" key="" module="" timestamp_urls=()
while (($#)); do
    case $1 in
        --*) [[ -n ${2:-} ]] || usage ;;&
        --openpgp-key) fingerprint=${2:-}; shift ;;
        --address) address=${2:-}; shift ;;
        --authenticode-certificate) certificate=$(realpath -m -- "${2:-}"); shift ;;
        --authenticode-key) key=${2:-}; shift ;;
        --pkcs11-module) module=$(realpath -m -- "${2:-}"); shift ;;
        --timestamp-url) timestamp_urls+=("${2:-}"); shift ;;
        -*) usage ;;
        *) [[ -z $dist ]] || usage; dist=$(realpath -m -- "$1") ;;
    esac
    shift
done
[[ -n $fingerprint && -n $dist && -n $address ]] || usage
# The Authenticode certificate and key come together, or not at all.
[[ -n $certificate && -n $key || -z $certificate$key$module${timestamp_urls[*]} ]] || usage
[[ -z $key || $key == pkcs11:* ]] || key=$(realpath -m -- "$key")
cd "$zandrel_top"
scripts=$zandrel_top/scripts
tools=(gpg gpg-agent apt-utils xz-utils rpm createrepo-c)
[[ -z $certificate ]] || tools+=(osslsigncode openssl unzip)
[[ $key != pkcs11:* ]] || tools+=(libengine-pkcs11-openssl)
scripts/install-packages.sh "${tools[@]}"
fail() { # code message...
    die "$1" "${*:2}; $dist is as it was"
}

# A whole release: BUILDINFO, SHA256SUMS, and every artefact it lists with
# those bytes. A release signed before is signed afresh from the same lines:
# those of its artefacts, whose names hold no folder.
[[ -f $dist/BUILDINFO && -f $dist/SHA256SUMS ]] || fail 2 "no BUILDINFO and SHA256SUMS: not a release"
unsigned_sums=$(grep -v '^[0-9a-f]*  .*/' "$dist/SHA256SUMS" || true)
[[ -n $unsigned_sums ]] || fail 2 "SHA256SUMS lists no artefact"
(cd "$dist" && sha256sum --quiet -c - <<<"$unsigned_sums") >/dev/null 2>&1 ||
    fail 1 "artefacts are missing or differ from SHA256SUMS: not a whole release"
epoch=$(release_epoch "$dist/BUILDINFO")

# The key: present and able to sign. Its signatures bear the release's time,
# or, for a key made later, the time its newest signing key was made.
key_listing=$(gpg --batch --with-colons --list-secret-keys -- "$fingerprint" 2>/dev/null) ||
    fail 1 "no secret key $fingerprint in ${GNUPGHOME:-~/.gnupg}"
# Field 12 of the key's line: what the key as a whole can still do, S to sign;
# of each key's own line, s where that key signs. Field 6: when it was made.
awk -F: '$1 == "sec" && $12 ~ /S/ { found = 1 } END { exit !found }' <<<"$key_listing" ||
    fail 1 "key $fingerprint cannot sign (revoked, expired, or without a signing key)"
made=$(awk -F: '($1 == "sec" || $1 == "ssb") && $12 ~ /s/ && $6 > made { made = $6 } END { print made + 0 }' <<<"$key_listing")
openpgp_time=$((made > epoch ? made : epoch))

stage=$(mktemp -d "$(dirname "$dist")/.zandrel-signing-XXXXXX")
remade=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-signing-XXXXXX")
trap 'rm -rf "$stage" "$remade"' EXIT
artefacts=$dist

if [[ -n $certificate ]]; then
    scripts/at-release-commit.sh "$dist/BUILDINFO" ||
        fail 2 "the Windows program is signed as the release root makes it: sign from the release's commit"
    # A token's PIN, or an encrypted key file's passphrase, asked for once.
    secret_variable=""
    if [[ $key == pkcs11:* ]]; then
        secret_variable=ZANDREL_PKCS11_PIN secret_name="the PIN of $key"
    elif [[ -f $key ]] && grep -q ENCRYPTED "$key"; then
        secret_variable=ZANDREL_KEY_PASSPHRASE secret_name="the passphrase of $key"
    fi
    if [[ -n $secret_variable && -z ${!secret_variable+set} ]]; then
        (: </dev/tty) 2>/dev/null || fail 1 "$secret_name is needed: set $secret_variable, or sign at a terminal"
        read -r -s -p "Enter $secret_name: " secret </dev/tty 2>/dev/tty
        echo >/dev/tty
        export "$secret_variable=$secret"
    fi
    signer=("$scripts/authenticode-sign.sh" --certificate "$certificate" --key "$key" --time "$epoch")
    [[ -z $module ]] || signer+=(--pkcs11-module "$module")
    for url in "${timestamp_urls[@]}"; do signer+=(--timestamp-url "$url"); done

    zip=$(sed -n 's/^[0-9a-f]*  \(.*-Windows-x86_64\)\.zip$/\1/p' <<<"$unsigned_sums")
    [[ -n $zip ]] || fail 2 "SHA256SUMS lists no Windows zip to sign the program of"
    mkdir "$remade/signatures"
    unzip -p "$dist/$zip.zip" "$zip/Zandrel.exe" >"$remade/Zandrel.exe" ||
        fail 2 "$zip.zip holds no $zip/Zandrel.exe"
    echo "== sign-release: the Windows program, signed here"
    "${signer[@]}" "$remade/Zandrel.exe" "$remade/signatures/$zip.exe.authenticode.pem" ||
        fail 1 "the Windows program could not be signed"
    echo "== sign-release: the release made again in its root, the signature attached, the installer signed here"
    status=0
    scripts/release.sh --packages "$dist/BUILDINFO" --authenticode "$remade/signatures" --output "$remade/dist" \
        --signer "${signer[@]}" || status=$?
    # A refusal is 1, a root or a build that failed 2, a package version missing 3.
    ((status == 0)) || fail "$status" "the release could not be made again with the signatures"
    while read -r line; do
        changed_by_authenticode "${line#*  }" || grep -qxF "$line" "$remade/dist/SHA256SUMS" ||
            fail 1 "made again, ${line#*  } is not what $dist holds"
    done <<<"$unsigned_sums"
    unsigned_sums=$(<"$remade/dist/SHA256SUMS")
    artefacts=$remade/dist
fi
signing_time=$(date -u -d "@$openpgp_time" +%Y%m%dT%H%M%S)
# gpg warns of the pinned time at every call; that is no news here.
gpg_sign() {
    gpg --batch --yes --quiet --faked-system-time "$signing_time!" --local-user "$fingerprint" "$@" \
        2> >(grep -v 'running with faked system time' >&2) || fail 1 "gpg could not sign with $fingerprint"
}

# The release's artefacts alone, those signed here in the place of the
# unsigned ones, for the repository; then DIST as it is, the artefacts and
# the release's signed files made afresh.
mkdir "$remade/release"
while read -r _ name; do cp "$artefacts/$name" "$artefacts/$name.sha256" "$remade/release/"; done <<<"$unsigned_sums"
cp -a "$dist/." "$stage/"
rm -rf "$stage/apt" "$stage/rpm" "$stage/SHA256SUMS.asc"
cp "$remade/release/"* "$stage/"
"$scripts/apt-repository.sh" "$remade/release" "$stage/apt" "$address/apt"
gpg --batch --quiet --export --export-options export-minimal -- "$fingerprint" >"$stage/apt/$apt_keyring" 2>/dev/null
release=$stage/apt/dists/$apt_suite/Release
gpg_sign --clearsign --output "${release%Release}InRelease" "$release"
gpg_sign --armor --detach-sign --output "$release.gpg" "$release"

# The RPM repository: each RPM package signed (rpmsign, through gpg at the
# pinned time), createrepo_c's metadata at the release's time (it records
# each package file's time too), repomd.xml signed, the key in the armoured
# form a .repo file's gpgkey= takes, and the .repo file for /etc/yum.repos.d/
# and zypper.
rpm=$stage/rpm
mkdir "$rpm"
for package in "$remade/release"/*.rpm; do
    cp "$package" "$rpm/"
    rpmsign --addsign --define "_gpg_name $fingerprint" --define "__gpg $(command -v gpg)" \
        --define "_gpg_sign_cmd_extra_args --batch --faked-system-time=$signing_time!" "$rpm/${package##*/}" \
        >"$remade/rpmsign.log" 2>&1 || fail 1 "rpmsign could not sign ${package##*/} with $fingerprint: $(tail -n 1 "$remade/rpmsign.log")"
    touch -d "@$epoch" "$rpm/${package##*/}"
done
createrepo_c --quiet --revision "$epoch" --set-timestamp-to-revision --no-database --general-compress-type=gz "$rpm" ||
    fail 1 "createrepo_c could not make the RPM repository"
gpg_sign --armor --detach-sign --output "$rpm/repodata/repomd.xml.asc" "$rpm/repodata/repomd.xml"
gpg --batch --quiet --armor --export --export-options export-minimal -- "$fingerprint" >"$rpm/$rpm_key" 2>/dev/null
cat >"$rpm/$rpm_repository_file" <<REPOSITORY
[zandrel]
name=Zandrel
type=rpm-md
baseurl=$address/rpm
enabled=1
gpgcheck=1
repo_gpgcheck=1
gpgkey=$address/rpm/$rpm_key
REPOSITORY

# SHA256SUMS lists the repositories' files too, but for the signatures made
# of them here.
{
    echo "$unsigned_sums"
    (cd "$stage" && find apt rpm -type f ! -name InRelease ! -name Release.gpg ! -name repomd.xml.asc |
        LC_ALL=C sort | xargs sha256sum)
} >"$stage/SHA256SUMS"
gpg_sign --armor --detach-sign --output "$stage/SHA256SUMS.asc" "$stage/SHA256SUMS"

# The signed release in the place of the unsigned one.
old=$(mktemp -d "$(dirname "$dist")/.zandrel-unsigned-XXXXXX")
mv "$dist" "$old/dist" && mv "$stage" "$dist" && rm -rf "$old"
signed="SHA256SUMS.asc, apt/ ($(grep -c '  apt/' "$dist/SHA256SUMS") files and InRelease, Release.gpg)"
signed+=", rpm/ ($(grep -c '  rpm/' "$dist/SHA256SUMS") files, the packages signed, and repomd.xml.asc)"
[[ -z $certificate ]] || signed+=", the Windows program and installer (Authenticode)"
echo "signed $dist with $fingerprint at $(date -u -d "@$openpgp_time" '+%F %T UTC'): $signed"
