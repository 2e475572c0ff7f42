#!/usr/bin/env bash
# Makes every release artefact into dist/ with the tools of the system it runs
# on: inside the release root, where scripts/release.sh runs it, or here with
# `scripts/release.sh --host-tools`. The Linux tarballs (x86-64 and each of
# cmake/linux-targets.txt), the Windows zip and installer, the Debian packages
# (one for each Debian architecture), BUILDINFO, a .sha256 beside each and
# SHA256SUMS over all. Time stamps are the commit's, owners 0, modes 0755 and
# 0644, entries in name order, whatever the folder and the umask. Where
# ZANDREL_AUTHENTICODE names a folder, the Windows program and installer carry
# Authenticode signatures, each kept as PEM in dist/: those in the folder, or
# where it has none for a file, one that the machine outside makes for it,
# asked for through the two pipes whose file descriptors ZANDREL_SIGNER_PIPES
# names (scripts/release.sh --signer). No key ever comes in here.
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

# The Windows installer of the program in that folder: wixl gives it its
# files, a per-machine folder and the major upgrade; msibuild the system PATH
# (appended to, [~], and taken off again, -, when uninstalled), for which wixl
# has no element, and the package code. Every time in it is the commit's, and
# its product and package codes follow from the version.
installer() { # folder name under $stage: dist/NAME.msi
    local version product package clock
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' build/windows/CMakeCache.txt)
    read -r product package < <(python3 - "$version" <<'PYTHON'
import re, sys, uuid
upgrade_code = re.search(r'UpgradeCode="([^"]+)"', open("cmake/Zandrel.wxs").read()).group(1)
print(*(str(uuid.uuid5(uuid.UUID(upgrade_code), f"{code} {sys.argv[1]}")).upper() for code in ("product", "package")))
PYTHON
    )
    printf '%s\t%s\t%s\t%s\n' Environment Name Value Component_ s72 l255 L255 s72 >"$stage/Environment.idt"
    printf '%s\t%s\n%s\t%s\t%s\t%s\n' Environment Environment PATH '=-*PATH' '[~];[INSTALLDIR]' Program \
        >>"$stage/Environment.idt"
    # The cabinet holds each file's time, in local time.
    touch -d "@$SOURCE_DATE_EPOCH" "$stage/$1"/*
    clock=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')
    TZ=UTC faketime -f "$clock" wixl --arch x64 -D Version="$version" -D ProductCode="$product" \
        -D Folder="$stage/$1" -o "dist/$1.msi" cmake/Zandrel.wxs
    TZ=UTC faketime -f "$clock" msibuild "dist/$1.msi" -i "$stage/Environment.idt" \
        -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveEnvironmentStrings', 3300)" \
        -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteEnvironmentStrings', 5200)" \
        -s "Zandrel $version" "Zandrel developers" "x64;1033" "{$package}"
}

# Attaches the Authenticode signature SIGNATURE (PEM) to FILE, into
# $stage/signed, where every digest the signature holds must be the one
# computed from FILE. osslsigncode checks the signer's certificate on the way:
# against the signature's own certificates here, as the root trusts no
# authority, and it says in its status what it found. The bytes are what count,
# and they are compared (check-release.sh, and sign-release.sh).
attach_signature() { # signature file
    openssl pkcs7 -print_certs -in "$1" -out "$stage/certificates.pem"
    rm -f "$stage/signed"
    osslsigncode attach-signature -CAfile "$stage/certificates.pem" -time "$SOURCE_DATE_EPOCH" \
        -sigin "$1" -in "$2" -out "$stage/signed" >"$stage/attached.log" 2>&1 || [[ -s $stage/signed ]]
    # "Current message digest : D" (held) beside "Calculated message digest : D" (computed).
    awk -F' *: *' '/^(Current|Calculated) / { split($1, kind, " "); sub(/^[A-Za-z]+ /, "", $1); split($2, digest, " ")
            if (kind[1] == "Current") { held[$1] = digest[1]; count++ } else computed[$1] = digest[1] }
        END { for (name in held) if (held[name] != computed[name]) exit 1; exit !count }' "$stage/attached.log" || {
        echo "$(basename "$1") is not a signature of $(basename "$2") as made here: it holds another file's digest" >&2
        exit 1
    }
}

# Asks the machine outside to sign FILE, and writes the signature it sends
# back to dist/SIGNATURE (scripts/release.sh --signer).
ask_for_signature() { # file signature
    local pipes size
    read -r -a pipes <<<"$ZANDREL_SIGNER_PIPES"
    echo "$2 $(stat -c %s "$1")" >&"${pipes[0]}"
    cat "$1" >&"${pipes[0]}"
    read -r size <&"${pipes[1]}"
    [[ $size =~ ^[0-9]+$ ]] || { echo "$(basename "$1") was not signed outside the root: $size" >&2; exit 1; }
    head -c "$size" <&"${pipes[1]}" >"dist/$2"
}

# Gives FILE, in place, the Authenticode signature SIGNATURE, which dist/ keeps.
authenticode() { # file signature
    if [[ -f $ZANDREL_AUTHENTICODE/$2 ]]; then
        cp "$ZANDREL_AUTHENTICODE/$2" "dist/$2"
    elif [[ -n ${ZANDREL_SIGNER_PIPES:-} ]]; then
        ask_for_signature "$1" "$2"
    else
        echo "no $2 in $ZANDREL_AUTHENTICODE to attach to $(basename "$1")" >&2
        exit 1
    fi
    attach_signature "dist/$2" "$1"
    mv "$stage/signed" "$1"
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
        step "${target:-$preset}: $name.zip and $name.msi"
        [[ -z ${ZANDREL_AUTHENTICODE:-} ]] || authenticode "$stage/$name/Zandrel.exe" "$name.exe.authenticode.pem"
        zip_folder "$name"
        installer "$name"
        [[ -z ${ZANDREL_AUTHENTICODE:-} ]] || authenticode "dist/$name.msi" "$name.msi.authenticode.pem"
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
    shopt -s nullglob # the signatures, where the Windows program is signed
    cat -- *.tar.gz.sha256 *.zip.sha256 *.msi.sha256 *.authenticode.pem.sha256 *.deb.sha256 BUILDINFO.sha256 \
        >SHA256SUMS
    cat SHA256SUMS
)
