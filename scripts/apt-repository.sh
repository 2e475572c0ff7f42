#!/usr/bin/env bash
# Makes the unsigned part of a release's apt repository: every .deb of DIST
# in pool/, the indexes of each architecture (plain, .gz and .xz), the suite's
# Release dated from DIST's SOURCE_DATE_EPOCH, and zandrel.sources, the file a
# user puts in /etc/apt/sources.list.d/. Its bytes follow from DIST and
# ADDRESS alone, on Debian 12 and 13 alike (apt-ftparchive of apt 2.6 and 3.0,
# xz 5.4 and 5.8 single-threaded), so that scripts/check-release.sh makes them
# again. scripts/sign-release.sh signs it and adds the key.
#   scripts/apt-repository.sh DIST OUT ADDRESS
set -euo pipefail
dist=${1:?usage: scripts/apt-repository.sh DIST OUT ADDRESS} out=${2:?} address=${3:?}
suite=stable component=main
keyring_name=zandrel-archive-keyring.gpg
for tool in apt-ftparchive xz gzip; do
    command -v $tool >/dev/null || { echo "apt-repository.sh needs $tool (apt-utils, xz-utils, gzip)" >&2; exit 1; }
done
epoch=$(sed -n 's/^SOURCE_DATE_EPOCH: //p' "$dist/BUILDINFO")
[[ $epoch =~ ^[0-9]+$ ]] || { echo "$dist/BUILDINFO gives no SOURCE_DATE_EPOCH" >&2; exit 1; }

pool=pool/$component/z/zandrel
mkdir -p "$out/$pool"
cp "$dist"/*.deb "$out/$pool/"
architectures=$(for deb in "$out/$pool"/*.deb; do dpkg-deb -f "$deb" Architecture; done | sort -u | xargs)
cd "$out"
for architecture in $architectures; do
    index=dists/$suite/$component/binary-$architecture
    mkdir -p "$index"
    apt-ftparchive --arch "$architecture" packages pool >"$index/Packages"
    gzip -9n -c "$index/Packages" >"$index/Packages.gz"
    # One thread: xz 5.6 and later would otherwise write another container.
    xz -T1 -9 -c "$index/Packages" >"$index/Packages.xz"
done
apt-ftparchive \
    -o APT::FTPArchive::Release::Origin=Zandrel -o APT::FTPArchive::Release::Label=Zandrel \
    -o APT::FTPArchive::Release::Suite=$suite -o APT::FTPArchive::Release::Codename=$suite \
    -o APT::FTPArchive::Release::Components=$component \
    -o APT::FTPArchive::Release::Architectures="$architectures" \
    -o APT::FTPArchive::Release::Date="$(LC_ALL=C date -u -d "@$epoch" '+%a, %d %b %Y %H:%M:%S +0000')" \
    release "dists/$suite" >Release.made # outside the folder it hashes
mv Release.made "dists/$suite/Release"

cat >zandrel.sources <<SOURCES
Types: deb
URIs: $address
Suites: $suite
Components: $component
Signed-By: /etc/apt/keyrings/$keyring_name
SOURCES
