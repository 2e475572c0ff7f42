#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Installs the Debian packages a preset needs (cmake/preset-packages.txt), from
# a bare Debian 12 or 13 on, when run as root; run as another user, it names
# those that are missing and fails. Elsewhere than on Debian it names them
# and leaves them to you.
#   scripts/install-packages.sh --preset NAME             release, dev, windows, ...
#   scripts/install-packages.sh --preset cross --target TARGET   (cmake/release.json)
#   scripts/install-packages.sh --all                     all that scripts/test.sh runs
#   scripts/install-packages.sh PACKAGE...                these
# PACKAGE:ARCH adds ARCH as a foreign architecture; PACKAGE? is installed only
# where the Debian release has it. Exit codes (scripts/lib.sh): 0 all there;
# 2 usage, or packages missing that it may not install, or apt failed.
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
usage() { die 2 "usage: scripts/install-packages.sh --preset NAME [--target TARGET] | --all | PACKAGE..."; }
rows() { grep -v '^#' "$zandrel_top/cmake/preset-packages.txt" | awk '{ print $1 }' | uniq; }
# Presets, not the rows of scripts that use packages too.
presets=$(rows | grep -v /)

preset_packages() { # preset [target]
    row_packages "$1"
    # A preset named after a target (aarch64) builds that target.
    if [[ -n ${2:-} ]] || grep -qx "$1" <<<"$(target_names)"; then target_packages "${2:-$1}"; fi
}

packages=()
case ${1:-} in
--preset)
    preset=${2:-} target=""
    grep -qx "$preset" <<<"$presets" || die 2 "no preset '$preset'; one of: $(xargs <<<"$presets")"
    if [[ ${3:-} == --target ]]; then
        target=${4:-}
        grep -qx "$target" <<<"$(target_names)" || die 2 "no target '$target'; one of: $(target_names | xargs)"
    elif [[ $preset == cross ]]; then
        die 2 "the cross preset builds one target: --target, one of: $(target_names | xargs)"
    fi
    mapfile -t packages < <(preset_packages "$preset" "$target")
    ;;
--all)
    mapfile -t packages < <(for row in $(rows); do row_packages "$row"; done
        for target in $(target_names); do target_packages "$target"; done)
    ;;
--* | "") usage ;;
*) packages=("$@") ;;
esac

if ! command -v dpkg-query >/dev/null; then
    echo "install-packages: not a Debian system, so not checked; Debian names what is needed:" \
        "$(printf '%s\n' "${packages[@]%\?}" | sort -u | xargs)" >&2
    exit 0
fi

installed() { [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == *'install ok installed' ]]; }
available() {
    local candidate
    candidate=$(apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p')
    [[ -n $candidate && $candidate != '(none)' ]]
}

missing=() optional=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do # package names hold no blank
    if [[ $package == *\? ]]; then
        installed "${package%\?}" || optional+=("${package%\?}")
    else
        installed "$package" || missing+=("$package")
    fi
done
((${#missing[@]} + ${#optional[@]})) || exit 0
if [[ $(id -u) -ne 0 ]]; then
    for package in "${optional[@]}"; do
        if available "$package"; then missing+=("$package"); fi
    done
    ((${#missing[@]})) || exit 0
    die 2 "missing packages (run as root to install them): ${missing[*]}"
fi

# Packages of another processor (:arm64) need its architecture added first;
# one added only for a package the release lacks is taken away again.
added=()
for package in "${missing[@]}" "${optional[@]}"; do
    architecture=${package#*:}
    if [[ $package == *:* ]] && ! grep -qx "$architecture" <<<"$(dpkg --print-foreign-architectures)"; then
        dpkg --add-architecture "$architecture"
        added+=("$architecture")
    fi
done
apt-get update -q || die 2 "apt-get update failed"
for package in "${optional[@]}"; do
    if available "$package"; then
        missing+=("$package")
    else
        echo "== not in this Debian release, so left out: $package"
    fi
done
for architecture in "${added[@]}"; do
    [[ " ${missing[*]} " == *":$architecture "* ]] || dpkg --remove-architecture "$architecture"
done
((${#missing[@]})) || exit 0
echo "== installing: ${missing[*]}"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    die 2 "apt-get could not install: ${missing[*]}"
