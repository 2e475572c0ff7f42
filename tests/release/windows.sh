#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# The Windows installer and Authenticode, on a release as an administrator
# and a maintainer meet them, with authorities, keys and a token made for this
# run alone (never kept). Refused before anything is made again, each with its
# cause and the release left as it was: a wrong PIN, a certificate of another
# key, a module that cannot be loaded, an encrypted key without its
# passphrase, a certificate not valid at the signing time, a time-stamp
# authority that does not answer. Signed with a key file, from a fresh clone
# in another folder under umask 077 (every other artefact must come out the
# same there), the key never among what the release root was given; signed
# with a key generated on a SoftHSM2 token, time-stamped by an RFC 3161
# authority on 127.0.0.1 after one that does not answer; each program and
# installer verified against the test authorities and refused against
# others. The token-signed program through the end-to-end table under wine;
# in a fresh wine prefix a silent install that puts the program on the PATH,
# an upgrade from an older version, an older one refused over a newer, and an
# uninstall that leaves nothing behind; check-release.sh on the signed
# release, leaving dist/ as it was, and on one whose signature has a byte
# changed. The two signings run side by side, and the check beside the
# installer's tests. The work tree must be the release's commit, unchanged.
#   tests/release/windows.sh DIST
set -euo pipefail
dist=$(realpath -- "${1:?usage: tests/release/windows.sh DIST}")
cd "$(dirname "$0")/../.."
# shellcheck source=common.sh
source tests/release/common.sh
name=$(basename "$dist"/Zandrel-*-Windows-x86_64.msi .msi)
version=${name#Zandrel-}
version=${version%%-*}

# Certificate authorities: one for code signing, one for time stamps, and a
# stranger that signed nothing.
authority() { # name: NAME.pem and NAME.key
    openssl req -x509 -newkey rsa:3072 -nodes -days 7300 -subj "/CN=Zandrel test $1" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$WORK/$1.key" -out "$WORK/$1.pem" 2>/dev/null
}
certificate() { # name public-key authority usage [faketime option]: NAME.pem, and NAME-chain.pem with the authority's
    printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature "extendedKeyUsage=$4" >"$WORK/$1.ext"
    ${5:+faketime -f "$5"} openssl x509 -new -subj "/CN=Zandrel test $1" -force_pubkey "$2" -days 30 \
        -CA "$WORK/$3.pem" -CAkey "$WORK/$3.key" -extfile "$WORK/$1.ext" -out "$WORK/$1.pem" 2>/dev/null
    cat "$WORK/$1.pem" "$WORK/$3.pem" >"$WORK/$1-chain.pem"
}
authority authority && authority stranger && authority timestamp-authority

key_file() { # name: NAME.key and NAME.pub
    openssl genpkey -algorithm rsa -pkeyopt rsa_keygen_bits:3072 -out "$WORK/$1.key" 2>/dev/null
    openssl pkey -in "$WORK/$1.key" -pubout -out "$WORK/$1.pub"
}
# A key file, marked so that any copy of it shows, and its certificate; one
# that expired long before the release; and the same key encrypted.
key_file file
marker="zandrel-test-marker-$RANDOM$RANDOM"
sed -i "1i $marker" "$WORK/file.key" # text before the PEM block, which openssl passes over
certificate file "$WORK/file.pub" authority codeSigning
certificate expired "$WORK/file.pub" authority codeSigning '@2020-01-01 00:00:00'
openssl pkey -in "$WORK/file.key" -aes256 -passout pass:zandrel -out "$WORK/encrypted.key"

# A token whose key is generated on it and never leaves it, and its certificate.
export SOFTHSM2_CONF=$WORK/softhsm2.conf
mkdir "$WORK/tokens"
printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$WORK/tokens" >"$SOFTHSM2_CONF"
module=/usr/lib/softhsm/libsofthsm2.so pin=24680
softhsm2-util --init-token --free --label "Zandrel test" --so-pin 13579 --pin $pin >/dev/null
pkcs11-tool --module $module --token-label "Zandrel test" --login --pin $pin --keypairgen --key-type rsa:3072 \
    --label code-signing --id 01 >/dev/null
pkcs11-tool --module $module --token-label "Zandrel test" --read-object --type pubkey --label code-signing \
    --output-file "$WORK/token.der" >/dev/null
openssl pkey -pubin -inform DER -in "$WORK/token.der" -out "$WORK/token.pub"
certificate token "$WORK/token.pub" authority codeSigning
token_key="pkcs11:token=Zandrel%20test;object=code-signing"

# The time-stamp authority on 127.0.0.1, and a port where nothing answers.
key_file timestamping
certificate timestamping "$WORK/timestamping.pub" timestamp-authority critical,timeStamping
printf '%s\n' '[ tsa ]' 'default_tsa = authority' '[ authority ]' "serial = $WORK/timestamp-serial" \
    'signer_digest = sha256' 'default_policy = 1.2.3.4.1' 'digests = sha256' 'ess_cert_id_alg = sha256' \
    >"$WORK/timestamping.cnf"
echo 01 >"$WORK/timestamp-serial"
coproc authority_server { exec python3 tests/release/timestamp_authority.py "$WORK/timestamping.cnf" \
    "$WORK/timestamping.pem" "$WORK/timestamping.key" "$WORK/timestamp-authority.pem" 2>"$WORK/timestamping.log"; }
# shellcheck disable=SC2154 # coproc sets it
at_end "kill $authority_server_PID"
read -r port <&"${authority_server[0]}"
silent_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
openpgp_key=$(make_openpgp_key "Zandrel test <windows@example.invalid>")

sign() { # release folder, then sign-release.sh's Authenticode options
    scripts/sign-release.sh --openpgp-key "$openpgp_key" "${@:2}" "$1"
}
unset ZANDREL_KEY_PASSPHRASE
refusal() { # the token's PIN, then sign-release.sh's Authenticode options
    ZANDREL_PKCS11_PIN=$1 sign "$WORK/refused" "${@:2}"
}
with_token=(--authenticode-certificate "$WORK/token-chain.pem" --authenticode-key "$token_key" --pkcs11-module "$module")
with_file=(--authenticode-certificate "$WORK/file-chain.pem" --authenticode-key "$WORK/file.key")
cp -R "$dist" "$WORK/refused"
before=$(file_sums "$WORK/refused")
while IFS='|' read -r what pin_given cause options; do
    eval "options=($options)"
    check "$what: exit 1, the cause named" refuses_saying "$cause" refusal "$pin_given" "${options[@]}"
done <<'REFUSALS'
a wrong PIN|11111|refused the PIN|"${with_token[@]}"
a certificate of another key|24680|is not the key's|--authenticode-certificate "$WORK/file-chain.pem" --authenticode-key "$token_key" --pkcs11-module $module
a module that cannot be loaded|24680|module /etc/hostname cannot be loaded|--authenticode-certificate "$WORK/token-chain.pem" --authenticode-key "$token_key" --pkcs11-module /etc/hostname
an encrypted key file without its passphrase|24680|passphrase of .*encrypted.key is needed|--authenticode-certificate "$WORK/file-chain.pem" --authenticode-key "$WORK/encrypted.key"
a certificate not valid at the signing time|24680|must be valid at the signing time|--authenticode-certificate "$WORK/expired-chain.pem" --authenticode-key "$WORK/file.key"
a time-stamp authority that does not answer|24680|no time-stamp authority answered|"${with_file[@]}" --timestamp-url http://127.0.0.1:$silent_port
REFUSALS
check "... and the release as it was after each" test "$before" = "$(file_sums "$WORK/refused")"

# Two signings side by side: the key file's, from a fresh clone in another
# folder under umask 077, and the token's, the first authority silent, the
# second one answering.
for signed in signed-with-file signed; do cp -R "$dist" "$WORK/$signed"; done
git clone -q --no-hardlinks . "$WORK/clone"
in_clone_under_077() { (umask 077 && cd "$WORK/clone" && "$@"); }
beside signed-with-file in_clone_under_077 scripts/sign-release.sh --openpgp-key "$openpgp_key" "${with_file[@]}" \
    "$WORK/signed-with-file"
ZANDREL_PKCS11_PIN=$pin sign "$WORK/signed" "${with_token[@]}" --timestamp-url "http://127.0.0.1:$silent_port" \
    --timestamp-url "http://127.0.0.1:$port" >"$WORK/signed.log" 2>&1 || { cat "$WORK/signed.log"; echo "FAIL signing from the token"; exit 1; }
gather signed-with-file || { echo "FAIL signing with a key file, from a clone under umask 077"; exit 1; }
given=$WORK/clone/build/release-root-input
check "what the root was given: the sources, the release, the signatures and public keys alone" \
    test "$(cd "$given" && find . -type f | grep -v '^\./release/\|^\./rpm/' | LC_ALL=C sort | xargs)" = \
    "./$name.exe.authenticode.pem ./$name.msi.authenticode.pem ./keys/RPM-GPG-KEY-zandrel ./keys/zandrel-archive-keyring.gpg ./sources.tar"
check "... none of it holds the key file or a line of its key" fails grep -r -a -q -F -e "$marker" \
    -e "$(sed -n 3p "$WORK/file.key")" "$given"

# A root that hands out another installer than the release's around the
# signed program (here, one made from a zip whose README is not the
# release's) has nothing signed.
cp -R "$dist" "$WORK/changed-installer"
python3 - "$WORK/changed-installer/$name.zip" <<'PYTHON'
import sys, zipfile
path = sys.argv[1]
entries = [(info, zipfile.ZipFile(path).read(info)) for info in zipfile.ZipFile(path).infolist()]
with zipfile.ZipFile(path, "w") as changed:
    for info, data in entries:
        changed.writestr(info, data + b"changed\n" if info.filename.endswith("README.md") else data, zipfile.ZIP_DEFLATED)
PYTHON
(cd "$WORK/changed-installer" && sha256sum "$name.zip" >"$name.zip.sha256" &&
    sed -i "s/^[0-9a-f]*  $name.zip$/$(cut -d' ' -f1 "$name.zip.sha256")  $name.zip/" SHA256SUMS)
before=$(file_sums "$WORK/changed-installer")
check "an installer handed out that is not the release's is refused, naming what differs" \
    refuses_saying "refused to sign the installer the root handed out: .*README.md is not the release's" \
    sign "$WORK/changed-installer" "${with_file[@]}"
check "... and the release as it was" test "$before" = "$(file_sums "$WORK/changed-installer")"

for signed in signed-with-file signed; do
    python3 -m zipfile -e "$WORK/$signed/$name.zip" "$WORK/$signed-zip"
done
python3 -m zipfile -e "$dist/$name.zip" "$WORK/unsigned-zip"
program=$WORK/signed-zip/$name/Zandrel.exe
check "the signed program is not the unsigned one" differ "$WORK/unsigned-zip/$name/Zandrel.exe" "$program"
# osslsigncode passes a signature whose time stamp it cannot verify, taking
# the time now instead; it says which it did.
verify() { # authority, time-stamp authority, file
    local report status=0
    report=$(osslsigncode verify -CAfile "$WORK/$1.pem" -TSA-CAfile "$WORK/$2.pem" -in "$3" 2>&1) || status=$?
    echo "$report"
    ((status == 0)) && [[ $report == *'Timestamp Server Signature verification: ok'* ]]
}
for file in "$WORK/signed-with-file-zip/$name/Zandrel.exe" "$WORK/signed-with-file/$name.msi"; do
    check "the key file's signature on $(basename "$file"): osslsigncode verifies it with the authority" \
        osslsigncode verify -CAfile "$WORK/authority.pem" -in "$file"
    check "... and not with another" fails osslsigncode verify -CAfile "$WORK/stranger.pem" -in "$file"
done
for file in "$program" "$WORK/signed/$name.msi"; do
    check "the token's signature on $(basename "$file") and its time stamp: osslsigncode verifies both with their authorities" \
        verify authority timestamp-authority "$file"
    check "... and neither with another" fails verify stranger timestamp-authority "$file"
    check "... the time stamp not either" fails verify authority stranger "$file"
done
check "the signatures are published beside the release" \
    test -s "$WORK/signed/$name.exe.authenticode.pem" -a -s "$WORK/signed/$name.msi.authenticode.pem"

# The check makes the release again beside the installer's tests, with a
# SOURCE_DATE_EPOCH of a packager's exported, which a rebuild passes over
# for BUILDINFO's.
before=$(file_sums dist)
beside check-release env SOURCE_DATE_EPOCH=1600000000 scripts/check-release.sh "$WORK/signed"

wine=/usr/lib/wine/wine64
export WINEPREFIX=$WORK/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=C.UTF-8
for prefix in wineprefix installs; do
    at_end "WINEPREFIX='$WORK/$prefix' tests/windows/wine_session.sh stop /usr/lib/wine/wineserver"
done
tests/windows/wine_session.sh start /usr/lib/wine/wineserver $wine "$program"
check "the signed program passes the end-to-end table" python3 tests/e2e/run_cases.py --exe "$program" --wine $wine
tests/windows/wine_session.sh stop /usr/lib/wine/wineserver

# The installer in a fresh prefix, run as administrators run it.
export WINEPREFIX=$WORK/installs
tests/windows/wine_session.sh start /usr/lib/wine/wineserver $wine "$program"
msiexec() { $wine msiexec "$@" /qn </dev/null >/dev/null 2>&1; }
registry() { $wine reg query "$1" /s </dev/null 2>/dev/null | tr -d '\r'; }
listing() { registry 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'; }
entries() { listing | grep -c 'DisplayName    REG_SZ    Zandrel$'; }
on_system_path() {
    [[ $(registry 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' | grep '^    PATH ') == \
        *'C:\Program Files\Zandrel'* ]]
}
folder=$WINEPREFIX/drive_c/Program\ Files/Zandrel
installed() { [[ -f $folder/Zandrel.exe && -f $folder/README.md && -f $folder/LICENSE.txt && -f $folder/THIRD-PARTY-NOTICES.txt ]]; }
listed_once() {
    local shown
    shown=$(listing)
    [[ $(entries) == 1 ]] && grep -q "DisplayVersion    REG_SZ    $version\$" <<<"$shown" &&
        grep -q 'Publisher    REG_SZ    Zandrel developers$' <<<"$shown"
}
runs_by_name() {
    local shown
    shown=$(cd "$WORK" && $wine cmd /c 'Zandrel /r:8 abc.bin' </dev/null 2>/dev/null | tr -d '\r')
    echo "$shown"
    [[ $shown == $'- open file   abc.bin\ndata : 00000126 ' ]]
}
refused_over_newer() { ! msiexec /i "$older" && listed_once; }
uninstalls() { msiexec /x "$release_msi" && nothing_left; }
replaces_older() { msiexec /i "$release_msi" && listed_once; }
nothing_left() { [[ ! -e $folder && $(entries) == 0 ]] && ! on_system_path; }
# The same installer but for its version (and the codes that go with it).
older=$WORK/older.msi
upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' cmake/Zandrel.wxs | tr a-f A-F)
cp "$dist/$name.msi" "$older"
msibuild "$older" -q "UPDATE Property SET Value='1.0.0' WHERE Property='ProductVersion'" \
    -q "UPDATE Property SET Value='{6C2A3C27-6B0E-4E0B-9B70-1D5C6A0F3E01}' WHERE Property='ProductCode'" \
    -q "DELETE FROM Upgrade WHERE ActionProperty='WIX_UPGRADE_DETECTED'" \
    -q "DELETE FROM Upgrade WHERE ActionProperty='WIX_DOWNGRADE_DETECTED'" \
    -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty) VALUES ('{$upgrade_code}', '1.0.0', 1, 'WIX_UPGRADE_DETECTED')" \
    -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, Attributes, ActionProperty) VALUES ('{$upgrade_code}', '1.0.0', 2, 'WIX_DOWNGRADE_DETECTED')" \
    -s "Zandrel 1.0.0" "Zandrel developers" "x64;1033" "{6C2A3C27-6B0E-4E0B-9B70-1D5C6A0F3E02}"
is_older() {
    grep -q $'^ProductVersion\t1.0.0' <<<"$(msiinfo export "$older" Property)" &&
        [[ $(msiinfo export "$older" Upgrade | grep -c '1\.0\.0') == 2 ]]
}
check "the older installer is 1.0.0, its upgrade rows too" is_older
printf abc >"$WORK/abc.bin"
release_msi=$WORK/signed/$name.msi
check "installs silently" msiexec /i "$release_msi"
check "... into Program Files\\Zandrel" installed
check "... in Apps & features with its version and publisher" listed_once
check "... on the system PATH" on_system_path
check "a new console runs Zandrel by name" runs_by_name
check "uninstalled silently: the program, its folder, its PATH entry and its listing gone" uninstalls
# Wine takes an upgrade's PATH entry away with one ; too few, and its cmd then
# finds nothing on the PATH past the empty entry: the console is tried above.
check "an older version installs silently" msiexec /i "$older"
check "the release's replaces it: one version listed, the release's" replaces_older
check "the older version is refused over it" refused_over_newer
check "uninstalled silently, nothing left" uninstalls
tests/windows/wine_session.sh stop /usr/lib/wine/wineserver

check "check-release.sh passes on the signed release" gather check-release
check "... and leaves dist/ as it was" test "$before" = "$(file_sums dist)"
change_byte "$WORK/signed/$name.exe.authenticode.pem" 100
check "check-release.sh fails on a changed signature, and names it" \
    refuses_saying "DIFFERENT  $name.exe.authenticode.pem:" scripts/check-release.sh "$WORK/signed"
finish "Windows installer and Authenticode"
