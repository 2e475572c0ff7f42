#!/usr/bin/env bash
# Signs a Windows program or installer with Authenticode on this machine, where
# the key lives, and writes the detached signature as PEM, which the release
# root attaches: FILE itself is left as it is. KEY is a PEM file, or a key on
# a token or an HSM service named by a PKCS#11 URI (RFC 7512,
# pkcs11:token=...;object=...) and reached through MODULE, the token's or
# service's PKCS#11 library. A token's PIN comes from ZANDREL_PKCS11_PIN, an
# encrypted key file's passphrase from ZANDREL_KEY_PASSPHRASE
# (scripts/sign-release.sh asks for either at the terminal): never from a
# command line or a file. The signature bears the later of EPOCH (the
# release's time) and the certificate's notBefore, so the same file signed
# again gives the same signature; each --timestamp-url is tried in turn for an
# RFC 3161 time stamp, which keeps the signature valid after the certificate
# expires, and signing fails when none answers.
# Exit codes (scripts/lib.sh): 0 signed; 1 refused, naming the cause; 2 usage,
# or a missing input.
#   scripts/authenticode-sign.sh --certificate CHAIN.pem --key KEY [--pkcs11-module MODULE.so]
#       [--timestamp-url URL]... --time EPOCH FILE SIGNATURE
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

usage() {
    die 2 "usage: scripts/authenticode-sign.sh --certificate CHAIN.pem --key KEY [--pkcs11-module MODULE.so]" \
        "[--timestamp-url URL]... --time EPOCH FILE SIGNATURE"
}
certificate="" key="" module="" epoch="" timestamp_urls=() files=()
while (($#)); do
    case $1 in
        --certificate) certificate=${2:-}; shift ;;
        --key) key=${2:-}; shift ;;
        --pkcs11-module) module=${2:-}; shift ;;
        --timestamp-url) timestamp_urls+=("${2:-}"); shift ;;
        --time) epoch=${2:-}; shift ;;
        -*) usage ;;
        *) files+=("$1") ;;
    esac
    shift
done
[[ ${#files[@]} -eq 2 && -n $certificate && -n $key && $epoch =~ ^[0-9]+$ ]] || usage
file=${files[0]} signature=${files[1]}
refuse() { die 1 "$@"; }
[[ -f $file ]] || die 2 "no file $file to sign"
[[ -f $certificate ]] || die 2 "no certificate $certificate"

work=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-authenticode-XXXXXX")
trap 'rm -rf "$work"' EXIT

# The certificate: the code-signing one first, then each authority's that
# issued the one before it, as Windows needs the chain inside the signature.
openssl x509 -in "$certificate" -out "$work/leaf.pem" 2>/dev/null || refuse "$certificate holds no PEM certificate"
awk '/-----BEGIN CERTIFICATE-----/ { n++ } n > 1' "$certificate" >"$work/issuers.pem"
if [[ -s $work/issuers.pem ]] &&
    ! openssl verify -no_check_time -partial_chain -CAfile "$work/issuers.pem" "$work/leaf.pem" >/dev/null 2>&1; then
    refuse "in $certificate, the certificates after the first are not the chain that issued it:" \
        "put the code-signing certificate first, then the authority's that issued it, on up to the root"
fi
[[ $(openssl x509 -in "$work/leaf.pem" -noout -ext extendedKeyUsage 2>/dev/null) == *'Code Signing'* ]] ||
    refuse "the first certificate in $certificate is not for code signing (no codeSigning extended key usage)"
subject=$(openssl x509 -in "$work/leaf.pem" -noout -subject -nameopt RFC2253)
subject=${subject#subject=}
certificate_time() { date -u -d "$(openssl x509 -in "$work/leaf.pem" -noout "-$1" | cut -d= -f2)" +%s; }
not_before=$(certificate_time startdate) not_after=$(certificate_time enddate) now=$(date +%s)
signing_time=$((epoch > not_before ? epoch : not_before))
# Windows checks the certificate at the time stamp's time, which is now, and
# without a time stamp whenever the program runs.
utc() { date -u -d "@$1" '+%F %T UTC'; }
((not_before <= now && now <= not_after && signing_time <= not_after)) ||
    refuse "$subject is valid from $(utc "$not_before") to $(utc "$not_after");" \
        "it must be valid at the signing time, $(utc "$signing_time"), and now, $(utc "$now")"

# The key, and what opens it.
secret_variable=""
if [[ $key == pkcs11:* ]]; then
    [[ -n $module ]] || refuse "a key on a token ($key) needs its PKCS#11 library: --pkcs11-module MODULE.so"
    [[ $key != *pin-value=* ]] ||
        refuse "$key holds its PIN, which would stand on command lines: give it in ZANDREL_PKCS11_PIN instead"
    [[ -f $module ]] || refuse "the PKCS#11 module $module cannot be loaded: there is no such file"
    key_options=(-pkcs11module "$module" -key "$key")
    [[ -z ${ZANDREL_PKCS11_PIN+set} ]] || secret_variable=ZANDREL_PKCS11_PIN
else
    [[ -z $module ]] || refuse "--pkcs11-module is for a key on a token, named by a pkcs11: URI, not for $key"
    [[ -f $key ]] || die 2 "no key file $key"
    if grep -q ENCRYPTED "$key"; then
        [[ -n ${ZANDREL_KEY_PASSPHRASE+set} ]] ||
            refuse "$key is encrypted, and no passphrase was given (ZANDREL_KEY_PASSPHRASE, or at a terminal)"
        secret_variable=ZANDREL_KEY_PASSPHRASE
    fi
    passphrase=()
    [[ -z $secret_variable ]] || passphrase=(-passin "env:$secret_variable")
    openssl pkey -in "$key" "${passphrase[@]}" -pubout -out "$work/key.pub" 2>/dev/null ||
        refuse "$key cannot be read as a private key${secret_variable:+ with the passphrase given}"
    cmp -s "$work/key.pub" <(openssl x509 -in "$work/leaf.pem" -noout -pubkey) ||
        refuse "the first certificate in $certificate ($subject) is not the key's: its public key is another's"
    key_options=(-key "$key")
fi
# The secret through a pipe: it never stands on a command line nor in a file.
secret_options=()
if [[ -n $secret_variable ]]; then
    exec {secret}< <(printf '%s' "${!secret_variable}")
    secret_options=(-readpass "/dev/fd/$secret")
fi

# osslsigncode names the library's or the token's complaint; each known one is
# said plainly, anything else shown as it came.
if ! osslsigncode sign -certs "$certificate" "${key_options[@]}" "${secret_options[@]}" -h sha256 -n Zandrel \
    -time "$signing_time" -in "$file" -out "$work/signed" >"$work/osslsigncode.log" 2>&1; then
    case $(<"$work/osslsigncode.log") in
        *'PIN incorrect'*) refuse "the token refused the PIN (ZANDREL_PKCS11_PIN) for $key" ;;
        *'PIN locked'*) refuse "the token's PIN is locked, after too many wrong ones" ;;
        *'No PIN code was entered'*) refuse "the token needs its PIN, and none was given (ZANDREL_PKCS11_PIN)" ;;
        *'Unable to load PKCS#11 module'* | *'Unable to load module'*) refuse "the PKCS#11 module $module cannot be loaded" ;;
        *'key values mismatch'*) refuse "the first certificate in $certificate ($subject) is not the key's" ;;
        *'object not found'* | *'private key was not found'*) refuse "no private key at $key" ;;
        *) refuse "osslsigncode could not sign $file:"$'\n'"$(tail -n 8 "$work/osslsigncode.log")" ;;
    esac
fi

stamped=""
if ((${#timestamp_urls[@]})); then
    for url in "${timestamp_urls[@]}"; do
        # An authority that takes no connections or never answers is passed over.
        if timeout 60 osslsigncode add -ts "$url" -in "$work/signed" -out "$work/stamped" >"$work/timestamp.log" 2>&1; then
            stamped=$url
            break
        fi
        echo "authenticode-sign: no time stamp from $url: $(grep -m 1 -E 'CURL failure|error:' "$work/timestamp.log")" >&2
        rm -f "$work/stamped"
    done
    [[ -n $stamped ]] || refuse "no time-stamp authority answered (${timestamp_urls[*]})"
    mv "$work/stamped" "$work/signed"
fi
osslsigncode extract-signature -pem -in "$work/signed" -out "$work/signature.pem" >/dev/null
mv "$work/signature.pem" "$signature"
echo "signed $(basename "$file") as $subject at $(utc "$signing_time")${stamped:+, time-stamped by $stamped}"
