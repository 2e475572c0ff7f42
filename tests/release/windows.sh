#!/usr/bin/env bash
# The Windows installer and Authenticode, on a release as an administrator
# meets them: the release signed with a code-signing certificate of an
# authority made for this run alone (never kept), the program and installer
# verified against that authority, the signed program through the end-to-end
# table under wine; in a fresh wine prefix a silent install that puts the
# program on the PATH, an upgrade from an older version, an older one refused
# over a newer, and an uninstall that leaves nothing behind; check-release.sh
# on the signed release, and on one whose signature has a byte changed. The
# work tree must be the release's commit, unchanged: the signing makes the
# release again there.
#   tests/release/windows.sh DIST
set -euo pipefail
cd "$(dirname "$0")/../.."
dist=$(realpath "${1:?usage: tests/release/windows.sh DIST}")
source tests/release/common.sh
name=$(basename "$dist"/Zandrel-*-Windows-x86_64.msi .msi)
version=${name#Zandrel-}
version=${version%%-*}

# A certificate authority and a code-signing certificate of its, and another
# authority that signed nothing, valid from before the release's time.
authority() { # name: NAME.pem and NAME.key, a certificate authority
    faketime -f '@2020-01-01 00:00:00' openssl req -x509 -newkey rsa:3072 -nodes -days 7300 \
        -subj "/CN=Zandrel test $1" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign -keyout "$WORK/$1.key" -out "$WORK/$1.pem" 2>/dev/null
}
authority authority && authority stranger
faketime -f '@2020-01-01 00:00:00' openssl req -newkey rsa:3072 -nodes -subj "/CN=Zandrel test code signing" \
    -keyout "$WORK/signing.key" -out "$WORK/signing.csr" 2>/dev/null
printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning >"$WORK/signing.ext"
faketime -f '@2020-01-01 00:00:00' openssl x509 -req -days 7300 -in "$WORK/signing.csr" -CA "$WORK/authority.pem" \
    -CAkey "$WORK/authority.key" -CAcreateserial -extfile "$WORK/signing.ext" -out "$WORK/signing.pem" 2>/dev/null
# The certificate file holds the whole chain, as a maintainer's does.
cat "$WORK/signing.pem" "$WORK/authority.pem" >"$WORK/chain.pem"
openpgp_key=$(make_openpgp_key "Zandrel test <windows@example.invalid>")

cp -R "$dist" "$WORK/signed"
scripts/sign-release.sh --openpgp-key "$openpgp_key" --authenticode-certificate "$WORK/chain.pem" \
    --authenticode-key "$WORK/signing.key" "$WORK/signed" || { echo "FAIL signing the release"; exit 1; }
python3 -m zipfile -e "$dist/$name.zip" "$WORK/unsigned-zip"
python3 -m zipfile -e "$WORK/signed/$name.zip" "$WORK/signed-zip"
program=$WORK/signed-zip/$name/Zandrel.exe
check "the signed program is not the unsigned one" differ "$WORK/unsigned-zip/$name/Zandrel.exe" "$program"
for file in "$program" "$WORK/signed/$name.msi"; do
    check "osslsigncode verifies $(basename "$file") with the authority" \
        osslsigncode verify -CAfile "$WORK/authority.pem" -in "$file"
    check "... and not with another" fails osslsigncode verify -CAfile "$WORK/stranger.pem" -in "$file"
done
check "the signatures are published beside the release" \
    test -s "$WORK/signed/$name.exe.authenticode.pem" -a -s "$WORK/signed/$name.msi.authenticode.pem"

wine=/usr/lib/wine/wine64
export WINEPREFIX=$WORK/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=C.UTF-8
tests/windows/wine_session.sh start /usr/lib/wine/wineserver $wine "$program"
check "the signed program passes the end-to-end table" python3 tests/e2e/run_cases.py --exe "$program" --wine $wine

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
installed() { [[ -f $folder/Zandrel.exe && -f $folder/README.md && -f $folder/LICENSE.txt ]]; }
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

check "check-release.sh passes on the signed release" scripts/check-release.sh "$WORK/signed"
change_byte "$WORK/signed/$name.exe.authenticode.pem" 100
check "check-release.sh fails on a changed signature, and names it" \
    refuses_saying "^DIFFERENT  $name.exe.authenticode.pem:" scripts/check-release.sh "$WORK/signed"
finish "Windows installer and Authenticode"
