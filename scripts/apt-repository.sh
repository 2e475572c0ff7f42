#!/usr/bin/env bash
# Makes the unsigned part of a release's apt repository: every .deb of DIST
# in pool/, the indexes of each architecture (plain, .gz and .xz), the suite's
# Release dated from DIST's SOURCE_DATE_EPOCH, and zandrel.sources, the file a
# user puts in /etc/apt/sources.list.d/, naming the repository at ADDRESS. Its
# bytes follow from DIST and ADDRESS alone, on Debian 12 and 13 alike
# (apt-ftparchive of apt 2.6 and 3.0, xz 5.4 and 5.8 single-threaded), so
# that scripts/check-release.sh makes them again. scripts/sign-release.sh
# signs it and adds the key. Exit codes (scripts/lib.sh): 0 made; 2 usage, or
# a tool or DIST's BUILDINFO missing.
#   scripts/apt-repository.sh DIST OUT ADDRESS
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
(($# == 3)) || die 2 "usage: scripts/apt-repository.sh DIST OUT ADDRESS"
dist=$(realpath -- "$1") out=$(realpath -m -- "$2") address=$3
for tool in apt-ftparchive xz gzip; do
    command -v $tool >/dev/null || die 2 "needs $tool (apt-utils, xz-utils, gzip)"
done
epoch=$(release_epoch "$dist/BUILDINFO")

pool=pool/$apt_component/z/zandrel
mkdir -p "$out/$pool"
cp "$dist"/*.deb "$out/$pool/"
architectures=$(for deb in "$out/$pool"/*.deb; do dpkg-deb -f "$deb" Architecture; done | sort -u | xargs)
cd "$out"
for architecture in $architectures; do
    index=dists/$apt_suite/$apt_component/binary-$architecture
    mkdir -p "$index"
    apt-ftparchive --arch "$architecture" packages pool >"$index/Packages"
    gzip -9n -c "$index/Packages" >"$index/Packages.gz"
    # One thread: xz 5.6 and later would otherwise write another container.
    xz -T1 -9 -c "$index/Packages" >"$index/Packages.xz"
done
apt-ftparchive \
    -o APT::FTPArchive::Release::Origin=Zandrel -o APT::FTPArchive::Release::Label=Zandrel \
    -o APT::FTPArchive::Release::Suite=$apt_suite -o APT::FTPArchive::Release::Codename=$apt_suite \
    -o APT::FTPArchive::Release::Components=$apt_component \
    -o APT::FTPArchive::Release::Architectures="$architectures" \
    -o APT::FTPArchive::Release::Date="$(LC_ALL=C date -u -d "@$epoch" '+%a, %d %b %Y %H:%M:%S +0000')" \
    release "dists/$apt_suite" >Release.made # outside the folder it hashes
mv Release.made "dists/$apt_suite/Release"

cat >zandrel.sources <<SOURCES
Types: deb
URIs: $address
Suites: $apt_suite
Components: $apt_component
Signed-By: /etc/apt/keyrings/$apt_keyring
SOURCES
