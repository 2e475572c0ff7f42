#!/usr/bin/env bash
# Makes a release into dist/ (what it holds: scripts/release-artefacts.sh) in
# a release root: a minimal Debian that mmdebstrap makes afresh from Debian's
# archive, holding the packages the release needs (cmake/preset-packages.txt's
# rows release and scripts/release.sh, and each cross target's compiler and musl)
# and nothing of this machine. The tracked sources go in at a fixed path with
# fixed owners, modes and times, and are built there as root with a fixed
# environment (locale, time zone, umask), so the bytes depend on the commit
# and the root's packages alone. BUILDINFO lists every package with its
# version: enough to make the same root again on any Linux
# (scripts/check-release.sh does).
#
# mmdebstrap runs in its root mode where this script runs as root: chroot and
# mounts, which work inside a chroot or container too, as in CI. Any other
# user gets its unshare mode, which needs unprivileged user namespaces,
# newuidmap (Debian's uidmap) and the user's subordinate ids in /etc/subuid
# and /etc/subgid. Both make the same root and the same bytes. Downloaded
# packages are kept for the next run in ~/.cache/zandrel-release-root; apt
# checks each against the archive's index.
#
#   scripts/release.sh                       the release as it is published
#   ZANDREL_MIRROR=URL scripts/release.sh    packages from another Debian mirror
#   scripts/release.sh --packages BUILDINFO  every package at the version listed
#   scripts/release.sh --host-tools          quicker, with this machine's own tools
#       (those scripts/test.sh installs): not how releases are made; BUILDINFO says so
#   scripts/release.sh --authenticode FOLDER  the Windows program and installer
#       with the Authenticode signatures in FOLDER attached (scripts/check-release.sh)
#   scripts/release.sh --output DIR           into DIR instead of dist/
#   scripts/release.sh ... --signer COMMAND [ARG...]   (last) signs on this
#       machine each Windows file the root has no signature for: the root
#       hands it out, COMMAND ARG... FILE SIGNATURE writes its detached
#       signature, and the root attaches that (scripts/sign-release.sh)
# The root is given the tracked sources and signatures alone, never a key:
# build/release-root-input keeps what the last root was given.
# Exit codes (scripts/lib.sh): 0 made; 1 FOLDER refused; 2 usage, or the
# root or the release in it could not be made; 3 the mirror lacks a package
# version, and nothing was built.
# shellcheck disable=SC2016 # mmdebstrap's hooks are text that its own sh expands
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"

usage() {
    die 2 "usage: scripts/release.sh [--host-tools | --packages BUILDINFO] [--authenticode FOLDER] [--output DIR]" \
        "[--signer COMMAND [ARG...]]"
}
# Paths given are taken from the folder the script is started in.
host_tools=0 pinned="" authenticode="" output=$zandrel_top/dist signer=()
while (($#)); do
    case $1 in
        --packages | --authenticode | --output) [[ -n ${2:-} ]] || usage ;;&
        --host-tools) host_tools=1 ;;
        --packages) pinned=$(realpath -m -- "$2"); shift ;;
        --authenticode) authenticode=$(realpath -m -- "$2"); shift ;;
        --output) output=$(realpath -m -- "$2"); shift ;;
        --signer) signer=("${@:2}"); ((${#signer[@]})) || usage; break ;;
        *) usage ;;
    esac
    shift
done
cd "$zandrel_top"
((!host_tools || ${#signer[@]} == 0)) || die 2 "--signer is not for --host-tools, which signs nothing"
((${#signer[@]} == 0)) || [[ -n $authenticode ]] || die 2 "--signer needs --authenticode"
[[ -z $pinned || -f $pinned ]] || die 2 "no BUILDINFO $pinned"

# What the root may be given for Authenticode: detached signatures, each a
# single PKCS#7 block in PEM and nothing else, so never a key.
only_signatures() { # file...
    local file
    for file; do
        if grep -q 'PRIVATE KEY' "$file"; then
            echo "release: refused $file: it holds a private key, and the release root takes signatures only" >&2
            return 1
        fi
        if [[ $file != *.authenticode.pem ]] || ! awk 'NR == 1 { bad = $0 != "-----BEGIN PKCS7-----"; next }
            $0 == "-----END PKCS7-----" && !ended { ended = 1; next }
            ended || $0 !~ /^[A-Za-z0-9+\/=]+$/ { bad = 1 }
            END { exit bad || !ended }' "$file"; then
            echo "release: refused $file: the release root takes Authenticode signatures alone" \
                "(NAME.authenticode.pem, one PKCS#7 block)" >&2
            return 1
        fi
    done
}
if [[ -n $authenticode ]]; then
    [[ -d $authenticode ]] || die 2 "no folder $authenticode"
    [[ -z $(find "$authenticode" -mindepth 1 ! -type f) ]] || die 1 "refused $authenticode: it holds more than files"
    shopt -s nullglob
    only_signatures "$authenticode"/* || exit 1
    shopt -u nullglob
fi

command -v git >/dev/null || scripts/install-packages.sh git
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
commit=$(git rev-parse HEAD)
# Untracked files never go into the release, so they change nothing here.
if [[ -n $(git status --porcelain --untracked-files=no) ]]; then
    echo "note: tracked files have changes that are not committed; they go into the release too"
    commit+=" with changes not committed"
fi
artefact_options=(--time "$SOURCE_DATE_EPOCH" --commit "$commit")
if ((host_tools)); then
    [[ -z $authenticode ]] || artefact_options+=(--authenticode "$authenticode")
    exec scripts/release-artefacts.sh --output "$output" "${artefact_options[@]}"
fi

# What the release needs; apt adds what these depend on. Each cross-built
# program needs its cross compiler and its musl, whose architecture the root
# then takes as a foreign one.
suite=trixie
architectures=amd64
mapfile -t includes < <(row_packages release; row_packages scripts/release.sh
    for target in $(target_names); do target_packages "$target"; done)
for package in "${includes[@]}"; do
    [[ $package != *:* ]] || architectures+=,${package#*:}
done
includes=("${includes[@]%\?}") architectures=${architectures//\?/}
default_mirror=http://deb.debian.org/debian
mirror=$default_mirror
variant=essential
command -v mmdebstrap >/dev/null || scripts/install-packages.sh mmdebstrap
if [[ -n $pinned ]]; then
    suite=$(buildinfo_field "$pinned" suite)
    architectures=$(buildinfo_field "$pinned" architectures | tr ' ' ,)
    mirror=$(buildinfo_field "$pinned" mirror)
    mapfile -t includes < <(buildinfo_packages "$pinned")
    [[ -n $suite && -n $architectures && -n $mirror && ${#includes[@]} -gt 0 ]] ||
        die 2 "$pinned names no release root (suite, architectures, mirror, packages)"
    # Those packages alone, each at its version: none comes in at another.
    variant=custom
fi
mirror=${ZANDREL_MIRROR:-$mirror}
apt_options=()
# A dated snapshot's index is past the date until which it counts as current.
[[ $mirror == "$default_mirror" ]] || apt_options+=(--aptopt='Acquire::Check-Valid-Until "false"')

work=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-root-XXXXXX")
service=""
trap '[[ -z $service ]] || kill "$service" 2>/dev/null; rm -rf "$work"' EXIT
cache=${XDG_CACHE_HOME:-$HOME/.cache}/zandrel-release-root
input=$zandrel_top/build/release-root-input
rm -rf "$input"
mkdir -p "$cache" "$input"
ln -s "$cache" "$work/cache"
ln -s "$input" "$work/input"
git ls-files -z | while IFS= read -r -d '' file; do
    if [[ -e $file ]]; then printf '%s\0' "$file"; fi # not one deleted in the work tree
done | tar --null -T - --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
    --mode=u=rwX,go=rX --mtime="@$SOURCE_DATE_EPOCH" -cf "$input/sources.tar"
sources=/build/zandrel
artefact_options+=(--output dist --root "$suite,$mirror")
signing_hooks=()
if [[ -n $authenticode ]]; then
    cp -R "$authenticode" "$input/authenticode"
    signing_hooks=(--customize-hook='mkdir -p "$1/build/authenticode"'
        --customize-hook="sync-in input/authenticode /build/authenticode")
    artefact_options+=(--authenticode /build/authenticode)
fi
# The root asks for a signature of each Windows file it has none for (the
# installer, made around the signed program): it writes the signature's name,
# the file's size and the file into one pipe, and reads the size and the bytes
# of the signature that the signer made here from the other, or "refused".
# The pipes pass into the root as open file descriptors, whoever owns it.
serve_signatures() {
    local name size
    mkdir "$work/unsigned" "$work/signed"
    while read -r name size <&"$requests"; do
        [[ $name == *.authenticode.pem && $name != */* && $size =~ ^[0-9]+$ ]] || { echo refused >&"$answers"; continue; }
        head -c "$size" <&"$requests" >"$work/unsigned/${name%.authenticode.pem}"
        if [[ ! -e $input/authenticode/$name ]] &&
            "${signer[@]}" "$work/unsigned/${name%.authenticode.pem}" "$work/signed/$name" &&
            only_signatures "$work/signed/$name" && cp "$work/signed/$name" "$input/authenticode/"; then
            stat -c %s "$work/signed/$name" >&"$answers"
            cat "$work/signed/$name" >&"$answers"
        else
            echo refused >&"$answers"
        fi
    done
}
if ((${#signer[@]})); then
    mkfifo "$work/requests" "$work/answers"
    exec {requests}<>"$work/requests" {answers}<>"$work/answers"
    serve_signatures &
    service=$!
    artefact_options+=(--signer-pipes "$requests $answers")
fi
# Progress lines from the root come through a file descriptor of their own
# (a hook hands it to bash: dash, which runs hooks, takes no number past 9);
# everything else goes to the log.
exec {progress}>&1
artefact_options+=(--progress "$progress")
log=$zandrel_top/build/release-root.log
mode=root
((EUID == 0)) || mode=unshare

echo "== release: a root of Debian $suite from $mirror ($variant, ${#includes[@]} packages named; log: $log)"
started=$(date +%s)
export started progress
# Files cross between this machine and the root by mmdebstrap's own hooks
# (sync-in, tar-in, sync-out): in unshare mode only they may write here. Their
# outside paths are relative to $work. A signer's secrets stay out of it.
if (cd "$work" && env -u ZANDREL_PKCS11_PIN -u ZANDREL_KEY_PASSPHRASE mmdebstrap --mode="$mode" \
    --variant="$variant" --architectures="$architectures" --include="$(IFS=,; echo "${includes[*]}")" \
    "${apt_options[@]}" --skip=essential/unlink --dpkgopt=force-unsafe-io \
    --setup-hook='mkdir -p "$1/var/cache/apt/archives"' \
    --setup-hook='sync-in cache /var/cache/apt/archives' \
    --customize-hook='bash -c "echo \"== release: the root took \$((\$(date +%s) - started)) s\" >&$progress"' \
    --customize-hook='sync-out /var/cache/apt/archives new-cache' \
    --customize-hook="mkdir -p \"\$1$sources\"" \
    --customize-hook="tar-in input/sources.tar $sources" "${signing_hooks[@]}" \
    --customize-hook="chroot \"\$1\" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
        TZ=UTC0 sh -c 'umask 022 && cd $sources && exec bash scripts/release-artefacts.sh \"\$@\"' release-artefacts \
        $(printf ' %q' "${artefact_options[@]}")" \
    --customize-hook="sync-out $sources/dist dist" \
    "$suite" /dev/null "$mirror") >"$log" 2>&1
then
    # Only a whole release replaces the last one. The cache keeps this root's
    # packages alone; where it holds those already, as for every rebuild
    # of a release just made, it stays as it is for the roots that read it.
    rm -rf "$output" && cp -R "$work/dist" "$output"
    if ! cmp -s <(ls "$cache") <(ls "$work/new-cache"); then
        rm -rf "$cache" && cp -R "$work/new-cache" "$cache"
    fi
    echo "== release: done in $(($(date +%s) - started)) s: $output"
    cat "$output/SHA256SUMS"
    exit 0
fi

# apt names every package whose version the mirror lacks, before anything is built.
missing=$(sed -n "s/^E: Version '\(.*\)' for '\(.*\)' was not found$/  \2 \1/p" "$log")
if [[ -n $missing ]]; then
    {
        echo "$mirror does not have these packages at these versions:"
        echo "$missing"
        echo "Nothing was built. Name a mirror that has them, such as a snapshot of Debian's"
        echo "archive from a day on which it held them (the commit's day, or a later one):"
        echo "    ZANDREL_MIRROR=http://snapshot.debian.org/archive/debian/$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y%m%dT%H%M%SZ)/"
    } >&2
    exit 3
fi
tail -n 25 "$log" >&2
die 2 "making the root or the release in it failed (the whole log: $log)"
