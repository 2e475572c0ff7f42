#!/usr/bin/env bash
# Installs those of the named Debian packages that are missing, when run as
# root; otherwise names them and fails. A minimal Debian has none of them.
#   scripts/install-packages.sh PACKAGE...
set -euo pipefail

missing=()
for package; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
((${#missing[@]})) || exit 0
if [[ $(id -u) -ne 0 ]]; then
    echo "missing packages (run as root to install them): ${missing[*]}" >&2
    exit 1
fi
echo "== installing: ${missing[*]}"
# Packages of another processor (:arm64) need its architecture added first.
for package in "${missing[@]}"; do
    if [[ $package == *:* ]] && ! dpkg --print-foreign-architectures | grep -qx "${package#*:}"; then
        dpkg --add-architecture "${package#*:}"
    fi
done
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
