#!/usr/bin/env bash
# Ends with 0 where the work tree is the commit that a release's BUILDINFO
# names, its tracked files unchanged; else says how it differs, exit 2, as
# nothing that remakes the release's bytes can start (check-release.sh,
# sign-release.sh).
#   scripts/at-release-commit.sh BUILDINFO
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
(($# == 1)) || die 2 "usage: scripts/at-release-commit.sh BUILDINFO"
commit=$(buildinfo_field "$1" commit)
cd "$zandrel_top"
[[ $commit =~ ^[0-9a-f]{40}$ ]] || die 2 "BUILDINFO names no commit that can be checked out: \"$commit\""
command -v git >/dev/null || scripts/install-packages.sh git
[[ $(git rev-parse HEAD) == "$commit" ]] ||
    die 2 "the work tree is at $(git rev-parse HEAD), the release was made at $commit: git checkout $commit"
[[ -z $(git status --porcelain --untracked-files=no) ]] ||
    die 2 "tracked files have changes that the release does not have:"$'\n'"$(git status --short --untracked-files=no)"
