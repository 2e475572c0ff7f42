#!/usr/bin/env bash
# Ends with 0 where the work tree is the commit that a release's BUILDINFO
# names, its tracked files unchanged; else says how it differs, exit 2. What
# remakes a release's bytes (check-release.sh, sign-release.sh) must stand there.
#   scripts/at-release-commit.sh BUILDINFO
set -euo pipefail
commit=$(sed -n 's/^commit: //p' "${1:?usage: scripts/at-release-commit.sh BUILDINFO}")
cd "$(dirname "$0")/.."
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
