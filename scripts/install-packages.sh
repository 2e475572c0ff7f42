#!/usr/bin/env bash
# Installs the Debian packages a preset needs (cmake/preset-packages.txt), from
# a bare Debian 12 or 13 on, when run as root; run as another user, it names
# those that are missing and fails.
#   scripts/install-packages.sh --preset NAME             release, dev, windows, ...
#   scripts/install-packages.sh --preset cross --target TARGET   (cmake/linux-targets.txt)
#   scripts/install-packages.sh --all                     all that scripts/test.sh runs
#   scripts/install-packages.sh PACKAGE...                these
# PACKAGE:ARCH adds ARCH as a foreign architecture; PACKAGE? is installed only
# where the Debian release has it.
set -euo pipefail
cd "$(dirname "$0")/.."
usage() {
    echo "usage: scripts/install-packages.sh --preset NAME [--target TARGET] | --all | PACKAGE..." >&2
    exit 2
}
rows() { grep -v '^#' "$1"; }
presets=$(rows cmake/preset-packages.txt | awk '{print $1}')
targets=$(rows cmake/linux-targets.txt | awk '{print $1}')

# A target's cross compiler and, where Debian has one, its musl for the
# target's first Debian architecture.
target_packages() { # target
    rows cmake/linux-targets.txt | awk -v target="$1" '$1 == target {
        print "g++-" $2
        if ($3 != "-") { split($6, architectures, ","); print "musl-dev:" architectures[1] "?" }
    }'
}
preset_packages() { # preset [target]
    rows cmake/preset-packages.txt | awk -v preset="$1" '$1 == preset { for (i = 2; i <= NF; i++) print $i }'
    # A preset named after a target (aarch64) builds that target.
    if [[ -n ${2:-} ]] || grep -qx "$1" <<<"$targets"; then target_packages "${2:-$1}"; fi
}

packages=()
case ${1:-} in
--preset)
    preset=${2:-} target=""
    grep -qx "$preset" <<<"$presets" || { echo "no preset '$preset'; one of:" $(grep -v / <<<"$presets") >&2; exit 2; }
    if [[ ${3:-} == --target ]]; then
        target=${4:-}
        grep -qx "$target" <<<"$targets" || { echo "no target '$target'; one of:" $targets >&2; exit 2; }
    elif [[ $preset == cross ]]; then
        echo "the cross preset builds one target: --target, one of:" $targets >&2
        exit 2
    fi
    mapfile -t packages < <(preset_packages "$preset" "$target")
    ;;
--all)
    mapfile -t packages < <(for preset in $presets; do preset_packages "$preset"; done
        for target in $targets; do target_packages "$target"; done)
    ;;
--* | "") usage ;;
*) packages=("$@") ;;
esac

installed() { [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == *'install ok installed' ]]; }
available() { [[ -n $(apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -v '(none)') ]]; }

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
    echo "missing packages (run as root to install them): ${missing[*]}" >&2
    exit 1
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
apt-get update -q
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
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
