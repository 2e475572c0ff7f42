#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# The source release as a packager takes it: the same bytes from another
# clone (git archive, doc/releasing.md); built, tested and installed with the
# plain commands of doc/building.md by a user with no network, in a bare
# Debian 13 holding only the build dependencies named there; the same inside
# another project's git work tree, the manual page's date unchanged.
# Needs root (mmdebstrap, chroot).     tests/release/source.sh DIST
# shellcheck disable=SC2016 # commands for the root's sh
set -euo pipefail
dist=$(realpath -- "${1:?usage: tests/release/source.sh DIST}")
cd "$(dirname "$0")/../.."
# shellcheck source=../../scripts/lib.sh
source scripts/lib.sh
# shellcheck source=common.sh
source tests/release/common.sh

version=$(sed -n 's/^Zandrel \([0-9.]*\), made by .*/\1/p' "$dist/BUILDINFO")
name=Zandrel-$version
[[ -f $dist/$name.tar.gz ]] || die 2 "$dist has no $name.tar.gz"
commit=$(sed -n 's/^commit: \([0-9a-f]*\).*/\1/p' "$dist/BUILDINFO")
day=$(date -u -d "@$(sed -n 's/^SOURCE_DATE_EPOCH: //p' "$dist/BUILDINFO")" +%F)

git clone -q --no-local . "$WORK/clone"
same_from_clone() { git -C "$WORK/clone" archive --format=tar --prefix="$name/" "$commit" | gzip -9n | cmp - "$dist/$name.tar.gz"; }
check "$name.tar.gz: the same bytes from another clone, by git archive and gzip -9n" same_from_clone

root=$WORK/root
mapfile -t packages < <(row_packages packaging)
mmdebstrap --quiet --mode=root --variant=apt --dpkgopt=force-unsafe-io --include="$(IFS=,; echo "${packages[*]}")" \
    trixie "$root" >"$WORK/mmdebstrap.log" 2>&1 || { tail -n 20 "$WORK/mmdebstrap.log"; die 2 "mmdebstrap failed"; }
home=/home/packager
install -d -o 1000 -g 1000 "$root$home"
cp "$dist/$name.tar.gz" "$root$home/"
# A build machine's terminals (the table runs the program on one), mounted
# for the command alone; in a chroot, / keeps the propagation it was given.
own_mounts=(unshare --mount --propagation private)
"${own_mounts[@]}" true 2>/dev/null || own_mounts=(unshare --mount --propagation unchanged)
as_packager() { # command: run in the root as user 1000, with no network
    "${own_mounts[@]}" --net sh -c 'mount --bind /dev/pts "$0/dev/pts" && exec chroot --userspec=1000:1000 "$0" "$@"' \
        "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=$home LC_ALL=C.UTF-8 sh -c "cd && $1"
}
builds() { # folder: the release unpacked there, then the page's commands
    as_packager "mkdir -p $1 && cd $1 && tar -xzf ~/$name.tar.gz && cd $name &&
        cmake -S . -B build && cmake --build build && ctest --test-dir build && DESTDIR=~/$1/installed cmake --install build" \
        2>&1 | tee "$WORK/$1.log"
}
check "built, tested and installed with the plain commands, as a user, with no network" builds plain
program=$root$home/plain/installed/usr/local/bin/Zandrel
dynamic_with_symbols() { readelf -lW "$program" | grep -q ' INTERP ' && readelf -SW "$program" | grep -q ' \.symtab '; }
check "... a dynamic program, with its symbols" dynamic_with_symbols
check "... ctest names the tests it skipped for want of a tool" grep -q 'end_to_end_memcheck (Skipped)' "$WORK/plain.log"
installed=$(cd "$root$home/plain/installed" && find . -type f | LC_ALL=C sort | paste -sd' ')
check "... installed: the program, its manual page, README and LICENSE alone" test "$installed" = \
    "./usr/local/bin/Zandrel ./usr/local/share/doc/zandrel/LICENSE.txt ./usr/local/share/doc/zandrel/README.md ./usr/local/share/man/man1/Zandrel.1.gz"
check "... the installed program passes the end-to-end table" \
    as_packager "python3 plain/$name/tests/e2e/run_cases.py --exe ~/plain/installed/usr/local/bin/Zandrel"
manual_date() { zcat "$root$home/$1/installed/usr/local/share/man/man1/Zandrel.1.gz" | sed -n 's/^\.TH [^"]*"\([^"]*\)".*/\1/p'; }
check "... its manual page dated from the release's commit, $day" test "$(manual_date plain)" = "$day"

# A packaging repository around the sources, with commits of its own.
cp /etc/resolv.conf "$root/etc/resolv.conf"
chroot "$root" sh -c 'apt-get update -q && apt-get install -y -q git' >"$WORK/apt.log" 2>&1 || { tail "$WORK/apt.log"; die 2 "no git in the root"; }
as_packager 'git init -q packaging && cd packaging && GIT_COMMITTER_DATE=2001-02-03T00:00:00Z git -c user.name=P \
    -c user.email=p@example.org commit -q --allow-empty --date=2001-02-03T00:00:00Z -m packaging'
check "inside another project's git work tree: built, tested and installed the same way" builds packaging
check "... its manual page dated from the release's commit, not that project's" test "$(manual_date packaging)" = "$day"

finish "source release"
