#!/usr/bin/env bash
# Checks a published release against its sources: makes it again from this
# work tree, in a release root holding every package at the version its
# BUILDINFO lists, and compares each artefact byte for byte with the sum
# SHA256SUMS gives and with the published file, where the folder has it.
# Exit 0 when every artefact is the same; 1 when one differs; 3 when the
# mirror lacks a package version (nothing is built then); 2 when the check
# cannot start.
#   scripts/check-release.sh FOLDER        FOLDER holds SHA256SUMS and BUILDINFO,
#                                          with or without the artefacts
#   ZANDREL_MIRROR=URL scripts/check-release.sh FOLDER   packages from that mirror
# The work tree must be the commit BUILDINFO names, its tracked files unchanged.
set -euo pipefail
folder=${1:?usage: scripts/check-release.sh FOLDER (with SHA256SUMS and BUILDINFO)}
folder=$(cd "$folder" && pwd)
cd "$(dirname "$0")/.."
for file in SHA256SUMS BUILDINFO; do
    [[ -f $folder/$file ]] || { echo "$folder has no $file"; exit 2; }
done

# Copies, as the release replaces dist/, which may be the folder given.
published=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-published-XXXXXX")
trap 'rm -rf "$published"' EXIT
cp "$folder/SHA256SUMS" "$folder/BUILDINFO" "$published/"
while read -r _ name; do
    if [[ -f $folder/$name ]]; then cp "$folder/$name" "$published/"; fi
done <"$published/SHA256SUMS"

commit=$(sed -n 's/^commit: //p' "$published/BUILDINFO")
if ! [[ $commit =~ ^[0-9a-f]{40}$ ]]; then
    echo "BUILDINFO names no commit that can be checked out: \"$commit\""
    exit 2
fi
command -v git >/dev/null || scripts/install-packages.sh git
if [[ $(git rev-parse HEAD) != "$commit" ]]; then
    echo "the work tree is at $(git rev-parse HEAD), the release was made at $commit:"
    echo "    git checkout $commit"
    exit 2
fi
if [[ -n $(git status --porcelain --untracked-files=no) ]]; then
    echo "tracked files have changes that the release does not have:"
    git status --short --untracked-files=no
    exit 2
fi

scripts/release.sh --packages "$published/BUILDINFO" || exit

echo
echo "== check: each artefact against $folder"
same=0
total=0
while read -r expected name; do
    total=$((total + 1))
    problem=""
    # The rebuild wrote each artefact's sum beside it.
    if [[ ! -f dist/$name.sha256 ]]; then
        problem="the rebuild made no such file"
    elif [[ $(<"dist/$name.sha256") != "$expected  $name" ]]; then
        problem="the rebuilt bytes are not those SHA256SUMS names"
    elif [[ -f $published/$name ]] && ! cmp -s "$published/$name" "dist/$name"; then
        problem="the published file's bytes are not the rebuilt ones, nor those SHA256SUMS names"
    fi
    # Another mirror, named on purpose, changes that line of the published BUILDINFO alone.
    if [[ $name == BUILDINFO && -n $problem && $(sha256sum <"$published/BUILDINFO") == "$expected  -" ]] &&
        cmp -s <(grep -v '^mirror: ' "$published/BUILDINFO") <(grep -v '^mirror: ' dist/BUILDINFO); then
        problem=""
        name+=" (but for the mirror it names)"
    fi
    if [[ -n $problem ]]; then
        echo "DIFFERENT  $name: $problem"
    else
        echo "same       $name"
        same=$((same + 1))
    fi
done <"$published/SHA256SUMS"
echo "$same of $total artefacts the same"
((same == total))
