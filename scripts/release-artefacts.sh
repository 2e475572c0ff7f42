#!/usr/bin/env bash
# Makes every release artefact into dist/ with the tools of the system it runs
# on: inside the release root, where scripts/release.sh runs it, or here with
# `scripts/release.sh --host-tools`. The Linux tarballs (x86-64 and each of
# cmake/linux-targets.txt), the Windows zip, the Debian packages (one for
# each Debian architecture), BUILDINFO, a .sha256 beside
# each and SHA256SUMS over all. Time stamps are the commit's, owners 0, modes
# 0755 and 0644, entries in name order, whatever the folder and the umask.
# Needs SOURCE_DATE_EPOCH and ZANDREL_COMMIT; in the root, ZANDREL_ROOT_SUITE
# and ZANDREL_ROOT_MIRROR, which BUILDINFO records with the root's packages.
set -euo pipefail
cd "$(dirname "$0")/.."
: "${SOURCE_DATE_EPOCH:?}" "${ZANDREL_COMMIT:?}"
step() { echo "== release: $*"; }

stage=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-release-XXXXXX")
trap 'rm -rf "$stage"' EXIT
rm -rf dist
mkdir dist

tar_gz() { # folder name under $stage: dist/NAME.tar.gz
    tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
        --mode=u=rwX,go=rX -C "$stage" -cf - "$1" | gzip -9n >"dist/$1.tar.gz"
}

zip_folder() { # folder name under $stage: dist/NAME.zip
    python3 - "$stage" "$1" "dist/$1.zip" <<'PYTHON'
import os, sys, time, zipfile
stage, name, archive = sys.argv[1:]
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]  # zip dates start in 1980
with zipfile.ZipFile(archive, "w") as zipped:
    entries = [name + "/"]
    for folder, folders, files in os.walk(os.path.join(stage, name)):
        relative = os.path.relpath(folder, stage)
        entries += [os.path.join(relative, f) + "/" for f in folders]
        entries += [os.path.join(relative, f) for f in files]
    for entry in sorted(entries):
        info = zipfile.ZipInfo(entry, stamp)
        info.create_system = 3  # Unix, so that the modes below count
        if entry.endswith("/"):
            info.external_attr = (0o40755 << 16) | 0x10
            zipped.writestr(info, b"")
            continue
        path = os.path.join(stage, entry)
        info.external_attr = (0o100755 if os.access(path, os.X_OK) else 0o100644) << 16
        with open(path, "rb") as source:
            zipped.writestr(info, source.read(), zipfile.ZIP_DEFLATED, 9)
PYTHON
}

# Each program: its preset, and for a cross-built one its target.
programs=(release windows)
while read -r target rest; do
    programs+=("cross $target")
done < <(grep -v '^#' cmake/linux-targets.txt)

for program in "${programs[@]}"; do
    read -r preset target <<<"$program"
    export ZANDREL_TARGET=$target
    build=build/${target:-$preset}
    step "${target:-$preset}: build the program"
    # Only the program and its documents: no tests, whose tools the root lacks.
    cmake --preset "$preset" -DZANDREL_BUILD_TESTS=OFF -DZANDREL_BUILD_BENCH=OFF >/dev/null
    targets=(Zandrel)
    [[ $preset != windows ]] && targets+=(zandrel_compressed_documents)
    cmake --build --preset "$preset" --target "${targets[@]}" >/dev/null
    name=$(sed -n 's/^ZANDREL_ARCHIVE_NAME:INTERNAL=//p' "$build/CMakeCache.txt")
    cmake --install "$build" --prefix "$stage/$name" >/dev/null
    if [[ $preset == windows ]]; then
        step "${target:-$preset}: $name.zip"
        zip_folder "$name"
        continue
    fi
    step "${target:-$preset}: $name.tar.gz and the Debian packages"
    tar_gz "$name"
    # One package for each Debian architecture the program serves (32-bit
    # ARM: armel and armhf alike).
    architectures=$(sed -n 's/^ZANDREL_PACKAGE_ARCHITECTURES:INTERNAL=//p' "$build/CMakeCache.txt")
    for architecture in ${architectures//;/ }; do
        rm -rf "$build/package"
        # CPack's folders and the modes in the package's own headers follow
        # the umask; the tarball's modes are set above.
        (umask 022 && cpack --preset "$preset" -D CPACK_DEBIAN_PACKAGE_ARCHITECTURE="$architecture" >/dev/null)
        cp "$build/package/"*.deb dist/
    done
done

step "BUILDINFO"
{
    echo "Zandrel $(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' build/release/CMakeCache.txt), made by scripts/release.sh"
    echo "commit: $ZANDREL_COMMIT"
    echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH"
    if [[ -n ${ZANDREL_ROOT_MIRROR:-} ]]; then
        # Enough to make the same root again: every package, at its version.
        echo "root: Debian $(cat /etc/debian_version), made by mmdebstrap"
        echo "suite: $ZANDREL_ROOT_SUITE"
        echo "architectures:" $(dpkg --print-architecture) $(dpkg --print-foreign-architectures)
        echo "mirror: $ZANDREL_ROOT_MIRROR"
        echo "packages:"
        dpkg-query -W -f='  ${binary:Package} ${Version}\n' | LC_ALL=C sort
    else
        (. /etc/os-release && echo "tools: this machine's own ($PRETTY_NAME), with --host-tools: not a published release")
    fi
} >dist/BUILDINFO

step "sums"
(
    cd dist
    for artefact in *; do
        sha256sum "$artefact" >"$artefact.sha256"
    done
    cat -- *.tar.gz.sha256 *.zip.sha256 *.deb.sha256 BUILDINFO.sha256 >SHA256SUMS
    cat SHA256SUMS
)
