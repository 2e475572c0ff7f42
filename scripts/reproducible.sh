#!/usr/bin/env bash
# Makes the release once more from a fresh clone in another folder, under
# umask 077, with the work tree's changes to tracked files applied, and
# checks that dist/ comes out byte for byte the same: nothing of the folder,
# the umask or the checkout reaches the bytes. Run after scripts/release.sh.
#   scripts/reproducible.sh [KEEP]     KEEP: a folder to leave the second release in
set -euo pipefail
keep=${1:+$(realpath -m "$1")}
cd "$(dirname "$0")/.."
[[ -f dist/SHA256SUMS ]] || { echo "no dist/SHA256SUMS: run scripts/release.sh first"; exit 1; }

copy=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-again-XXXXXX")
trap 'rm -rf "$copy"' EXIT
(
    umask 077
    git clone -q --no-hardlinks . "$copy"
    git diff --binary HEAD | git -C "$copy" apply --index --allow-empty
    cd "$copy" && scripts/release.sh >/dev/null
)

if ! cmp -s dist/SHA256SUMS "$copy/dist/SHA256SUMS"; then
    echo "FAIL the release differs when made from a clone in another folder under umask 077:"
    diff dist/SHA256SUMS "$copy/dist/SHA256SUMS" || true
    exit 1
fi
echo "same release from $PWD and $copy (umask 077): $(wc -l <dist/SHA256SUMS) artefacts"
if [[ -n $keep ]]; then
    rm -rf "$keep" && cp -R "$copy/dist" "$keep"
fi
