#!/usr/bin/env bash
# The signing step, tried on a release as a maintainer and a Debian user meet
# it, with keys made for this run alone (none is ever kept), after the
# release's commit: signatures that bear the key's time, that gpgv and sqv
# accept and a changed byte that they refuse, the same bytes when signed
# again, a file of the maintainer's kept, a missing key refused with the
# release left as it was, the repository installed from and upgraded in bare
# Debian 12 and 13 roots while a changed InRelease or package is refused, and
# check-release.sh on the signed release, with the release itself standing
# for the one made again (tests/release/windows.sh makes it again for real).
# Needs root or user namespaces, as scripts/release.sh does.
#   tests/release/signing.sh DIST
set -euo pipefail
cd "$(dirname "$0")/../.."
export TEST=$PWD/tests/release/signing.sh

# Run by mmdebstrap in each bare root, whose folder it is given: the user's
# side, against the repository the test serves.
if [[ ${1:-} == in-root ]]; then
    root=$2
    in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive sh -c "$1"; }
    serve() { ln -sfn "$WORK/$1/apt" "$WORK/served/apt"; }
    fresh_client() { in_root 'apt-get purge -y -q zandrel >/dev/null 2>&1; apt-get clean; rm -rf /var/lib/apt/lists/*'; }
    installs() { in_root 'apt-get update -q && apt-get install -y -q zandrel' >"$WORK/apt.log" 2>&1; }
    installed_version() { in_root 'dpkg-query -W -f="\${Version}" zandrel' 2>/dev/null; }
    sums_a_file() { installs && [[ $(in_root 'printf abc >/tmp/abc.bin && Zandrel /r:8 /tmp/abc.bin') == "$EXPECTED" ]]; }
    upgrades() {
        in_root 'apt-get update -q && apt-get upgrade -y -q' >"$WORK/apt.log" 2>&1 && [[ $(installed_version) == 1.0.3 ]]
    }
    refuses() { ! installs && [[ -z $(installed_version) ]]; }
    result() { # what, then the test
        if "${@:2}"; then echo "ok   $SUITE: $1"; else echo "FAIL $SUITE: $1"; tail -n 5 "$WORK/apt.log"; exit 1; fi
    }
    # What a user downloads into place, as the README says.
    mkdir -p "$root/etc/apt/keyrings"
    cp "$WORK/one/apt/zandrel-archive-keyring.gpg" "$root/etc/apt/keyrings/"
    cp "$WORK/one/apt/zandrel.sources" "$root/etc/apt/sources.list.d/"
    serve one
    result "apt-get install zandrel, then Zandrel /r:8" sums_a_file
    serve newer
    result "apt-get upgrade takes the newer version" upgrades
    for changed in changed-inrelease changed-package; do
        fresh_client
        serve $changed
        result "a $changed is refused" refuses
    done
    exit 0
fi

dist=$(realpath "${1:?usage: tests/release/signing.sh DIST}") rebuilt=$dist
source tests/release/common.sh
server=""
trap '[[ -z $server ]] || kill $server; rm -rf "$WORK"' EXIT
key=$(make_openpgp_key "Zandrel test <signing@example.invalid>")
other_key=$(make_openpgp_key "Zandrel other test <other@example.invalid>")
[[ -n $key && -n $other_key && $key != "$other_key" ]] || { echo "FAIL two distinct test keys"; exit 1; }

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
address=http://127.0.0.1:$port/apt
sign() { # folder key: the folder, a copy of the release, signed
    scripts/sign-release.sh --openpgp-key "$2" --address "$address" "$WORK/$1" >/dev/null
}
for copy in one two other; do cp -R "$dist" "$WORK/$copy"; done
echo "the maintainer's own" >"$WORK/two/notes.txt"
sign one "$key" && sign two "$key" && sign other "$other_key"
check "the two keys' signatures differ" differ "$WORK/one/SHA256SUMS.asc" "$WORK/other/SHA256SUMS.asc"
check "a key made after the commit signs at the time it was made" test \
    "$(gpgv --status-fd 1 --keyring "$WORK/one/apt/zandrel-archive-keyring.gpg" "$WORK/one/SHA256SUMS.asc" \
        "$WORK/one/SHA256SUMS" 2>/dev/null | awk '$2 == "VALIDSIG" { print $5 }')" = \
    "$(gpg --with-colons --list-keys "$key" | awk -F: '$1 == "pub" { print $6 }')"
check "a file of the maintainer's in the folder is kept" test -f "$WORK/two/notes.txt"
rm "$WORK/two/notes.txt"
check "signed twice, the same bytes" diff -r "$WORK/one" "$WORK/two"
sign two "$key"
check "signed again when signed, the same bytes" diff -r "$WORK/one" "$WORK/two"

keyring=$WORK/one/apt/zandrel-archive-keyring.gpg
cp "$WORK/one/SHA256SUMS" "$WORK/SHA256SUMS.changed"
change_byte "$WORK/SHA256SUMS.changed" 0
for verifier in gpgv sqv; do
    check "$verifier accepts SHA256SUMS.asc" $verifier --keyring "$keyring" "$WORK/one/SHA256SUMS.asc" "$WORK/one/SHA256SUMS"
    check "$verifier refuses a changed byte" fails $verifier --keyring "$keyring" "$WORK/one/SHA256SUMS.asc" "$WORK/SHA256SUMS.changed"
    check "$verifier refuses another key's signature" \
        fails $verifier --keyring "$keyring" "$WORK/other/SHA256SUMS.asc" "$WORK/other/SHA256SUMS"
done

cp -R "$dist" "$WORK/unsigned"
before=$(file_sums "$WORK/unsigned")
missing_key=$(printf '%040d' 0)
check "a missing key: exit 1, and a message that names it" \
    refuses_saying "no secret key $missing_key" scripts/sign-release.sh --openpgp-key "$missing_key" "$WORK/unsigned"
check "a missing key: the release as it was" test "$before" = "$(file_sums "$WORK/unsigned")"

check "check-release.sh passes on the signed release" scripts/check-release.sh --rebuilt "$rebuilt" "$WORK/one"
cp -R "$WORK/one" "$WORK/changed-packages"
change_byte "$WORK/changed-packages/apt/dists/stable/main/binary-amd64/Packages" 20
check "check-release.sh fails on a changed Packages, and names it" \
    refuses_saying '^DIFFERENT  apt/dists/stable/main/binary-amd64/Packages:' \
    scripts/check-release.sh --rebuilt "$rebuilt" "$WORK/changed-packages"

# The repository as users meet it: a newer version (the same package but for
# its version), a changed InRelease and a changed package beside the release.
cp -R "$dist" "$WORK/newer"
deb=$(ls "$WORK/newer"/zandrel_*_amd64.deb)
dpkg-deb -R "$deb" "$WORK/package"
sed -i 's/^Version: .*/Version: 1.0.3/' "$WORK/package/DEBIAN/control"
dpkg-deb --root-owner-group -b "$WORK/package" "$WORK/newer/zandrel_1.0.3_amd64.deb" >/dev/null
(cd "$WORK/newer" && sha256sum zandrel_1.0.3_amd64.deb | tee zandrel_1.0.3_amd64.deb.sha256 >>SHA256SUMS)
sign newer "$key"
cp -R "$WORK/one" "$WORK/changed-inrelease"
# A digit of the first SHA256 sum that InRelease gives.
change_byte "$WORK/changed-inrelease/apt/dists/stable/InRelease" \
    $(($(grep -b -m1 -o 'SHA256:' "$WORK/changed-inrelease/apt/dists/stable/InRelease" | cut -d: -f1) + 9))
cp -R "$WORK/one" "$WORK/changed-package"
change_byte "$(ls "$WORK/changed-package"/apt/pool/main/z/zandrel/zandrel_*_amd64.deb)" 2000

mkdir "$WORK/served"
python3 -m http.server --bind 127.0.0.1 --directory "$WORK/served" "$port" >/dev/null 2>&1 &
server=$!
export EXPECTED=$'- open file   /tmp/abc.bin\ndata : 00000126 '
mode=root
((EUID == 0)) || mode=unshare
for suite in bookworm trixie; do
    SUITE=$suite mmdebstrap --quiet --mode=$mode --variant=minbase --dpkgopt=force-unsafe-io \
        --customize-hook='"$TEST" in-root "$1"' "$suite" /dev/null || failures=$((failures + 1))
done

finish signing
