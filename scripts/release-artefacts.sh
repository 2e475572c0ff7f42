#!/usr/bin/env bash
# Makes every release artefact into OUTPUT with the tools of the system it
# runs on: inside the release root, where scripts/release.sh runs it, or here
# with `scripts/release.sh --host-tools`. The Linux tarballs (x86-64 and each
# of cmake/linux-targets.txt), the Windows zip and installer, the Debian
# packages (one for each Debian architecture), an RPM package for each Linux
# program, BUILDINFO, the bill of
# materials Zandrel-VERSION.cdx.json, a .sha256 beside each and SHA256SUMS
# over all it made. Each program's notices of the code of others it holds,
# and for Debian its copyright file and Static-Built-Using field, follow from
# the linker's map (scripts/release-contents.py). Time stamps are EPOCH, the commit's,
# owners 0, modes 0755 and 0644, entries in name order, whatever the folder
# and the umask. BUILDINFO names COMMIT, and for a root its suite and mirror,
# with every package at its version. With --authenticode, the Windows program
# and installer carry Authenticode signatures, each kept as PEM in OUTPUT:
# those in FOLDER, or where it has none for a file, one that the machine
# outside makes for it, asked for through the two pipes whose open file
# descriptors --signer-pipes names (scripts/release.sh --signer). No key ever
# comes in here. Progress lines go to file descriptor FD (standard output by
# default). Exit codes: scripts/lib.sh's; a failed step is 2.
#   scripts/release-artefacts.sh --output OUTPUT --time EPOCH --commit COMMIT
#       [--root SUITE,MIRROR] [--authenticode FOLDER [--signer-pipes "REQUESTS ANSWERS"]]
#       [--progress FD]
set -Eeuo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cd "$zandrel_top"
output="" commit="" root="" authenticode="" signer_pipes="" progress=1
unset SOURCE_DATE_EPOCH
while (($#)); do
    case $1 in
        --output) output=${2:-} ;;
        --time) export SOURCE_DATE_EPOCH=${2:-} ;;
        --commit) commit=${2:-} ;;
        --root) root=${2:-} ;;
        --authenticode) authenticode=${2:-} ;;
        --signer-pipes) signer_pipes=${2:-} ;;
        --progress) progress=${2:-} ;;
        *) die 2 "usage: scripts/release-artefacts.sh --output OUTPUT --time EPOCH --commit COMMIT" \
            "[--root SUITE,MIRROR] [--authenticode FOLDER [--signer-pipes \"REQUESTS ANSWERS\"]] [--progress FD]" ;;
    esac
    shift 2
done
[[ -n $output && ${SOURCE_DATE_EPOCH:-} =~ ^[0-9]+$ && -n $commit ]] || die 2 "--output, --time and --commit are needed"
step() { echo "== release: $*" >&"$progress"; }
# A failed command ends the run with 2, naming it.
trap 'die 2 "failed: $BASH_COMMAND"' ERR

stage=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-release-XXXXXX")
trap 'rm -rf "$stage"' EXIT
rm -rf "$output"
mkdir -p "$output"
made=() # every artefact, as it is made: SHA256SUMS lists these

tar_gz() { # folder name under $stage: OUTPUT/NAME.tar.gz
    tar --sort=name --format=gnu --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
        --mode=u=rwX,go=rX -C "$stage" -cf - "$1" | gzip -9n >"$output/$1.tar.gz"
    made+=("$1.tar.gz")
}

zip_folder() { # folder name under $stage: OUTPUT/NAME.zip
    made+=("$1.zip")
    python3 - "$stage" "$1" "$output/$1.zip" <<'PYTHON'
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
installer() { # folder name under $stage: OUTPUT/NAME.msi, of the program of that $version
    local product package clock
    made+=("$1.msi")
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
    # wixl takes the files from beside the source it is given (0.101, Debian
    # 12's, takes no absolute path for them).
    cp cmake/Zandrel.wxs "$stage/"
    TZ=UTC faketime -f "$clock" wixl --arch x64 -D Version="$version" -D ProductCode="$product" \
        -D Folder="$1" -o "$output/$1.msi" "$stage/Zandrel.wxs"
    TZ=UTC faketime -f "$clock" msibuild "$output/$1.msi" -i "$stage/Environment.idt" \
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
        END { for (name in held) if (held[name] != computed[name]) exit 1; exit !count }' "$stage/attached.log" ||
        die 1 "$(basename "$1") is not a signature of $(basename "$2") as made here: it holds another file's digest"
}

# Asks the machine outside to sign FILE, and writes the signature it sends
# back to OUTPUT/SIGNATURE (scripts/release.sh --signer).
ask_for_signature() { # file signature
    local pipes size
    read -r -a pipes <<<"$signer_pipes"
    echo "$2 $(stat -c %s "$1")" >&"${pipes[0]}"
    cat "$1" >&"${pipes[0]}"
    read -r size <&"${pipes[1]}"
    [[ $size =~ ^[0-9]+$ ]] || die 1 "$(basename "$1") was not signed outside the root: $size"
    head -c "$size" <&"${pipes[1]}" >"$output/$2"
}

# Gives FILE, in place, the Authenticode signature SIGNATURE, which OUTPUT keeps.
authenticode() { # file signature
    if [[ -f $authenticode/$2 ]]; then
        cp "$authenticode/$2" "$output/$2"
    elif [[ -n $signer_pipes ]]; then
        ask_for_signature "$1" "$2"
    else
        die 2 "no $2 in $authenticode to attach to $(basename "$1")"
    fi
    attach_signature "$output/$2" "$1"
    mv "$stage/signed" "$1"
    made+=("$2")
}

# Which program ARTEFACT holds, where in it, and from which build folder,
# for the bill of materials.
holds() { # artefact path-inside program-file build
    printf '%s\t%s\t%s\t%s\n' "$@" >>"$stage/contents"
}

# PACKAGE with the source packages whose code its program holds named in its
# control file: CPack writes no such field.
static_built_using() { # package value
    rm -rf "$stage/package"
    dpkg-deb -R "$1" "$stage/package"
    # CPack ends the paragraph with a blank line, which would start another.
    sed -i '/^$/d' "$stage/package/DEBIAN/control"
    echo "Static-Built-Using: $2" >>"$stage/package/DEBIAN/control"
    dpkg-deb --root-owner-group -Zgzip -b "$stage/package" "$1" >/dev/null
}

# The RPM package of the program in that folder, for its processor: built
# from cmake/zandrel-rpm.in with the changelog entry of the Debian package's,
# every time the commit's, the build host named by no machine.
rpm_package() { # folder-name build
    local architecture maintainer
    architecture=$(sed -n 's/^ZANDREL_RPM_ARCHITECTURE:INTERNAL=//p' "$2/CMakeCache.txt")
    maintainer=$(sed -n 's/^ZANDREL_DEB_MAINTAINER:STRING=//p' "$2/CMakeCache.txt")
    {
        cat cmake/zandrel-rpm.in
        printf '\n%%changelog\n* %s %s - %s-1\n' "$(LC_ALL=C date -u -d "@$SOURCE_DATE_EPOCH" '+%a %b %d %Y')" \
            "$maintainer" "$version"
        sed -n 's/^  \* /- /p' "$2/changelog"
    } >"$stage/zandrel-rpm"
    rm -rf "$stage/rpmbuild"
    rpmbuild -bb --quiet --target "$architecture" --define "_topdir $stage/rpmbuild" \
        --define "version $version" --define "licence $(<"$2/licence")" --define "packager $maintainer" \
        --define "staged $stage/$1" --define "_buildhost reproducible" --define "use_source_date_epoch_as_buildtime 1" \
        --define "clamp_mtime_to_source_date_epoch 1" --define "source_date_epoch_from_changelog 0" \
        --define "debug_package %{nil}" --define "__os_install_post %{nil}" --define "_build_id_links none" \
        "$stage/zandrel-rpm" >/dev/null
    package=zandrel-$version-1.$architecture.rpm
    cp "$stage/rpmbuild/RPMS/$architecture/$package" "$output/"
    made+=("$package")
    holds "$package" usr/bin/Zandrel "$stage/$1/bin/Zandrel" "$2"
}

# Each program: its preset, and for a cross-built one its target.
programs=(release windows)
for target in $(target_names); do programs+=("cross $target"); done

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
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
    # Whose code the linker took, its notices, and for Debian the copyright
    # file and the Static-Built-Using field, each into the build folder.
    python3 scripts/release-contents.py program "$build" "$version" "${name#Zandrel-"$version"-}"
    cmake --install "$build" --prefix "$stage/$name" >/dev/null
    if [[ $preset == windows ]]; then
        step "${target:-$preset}: $name.zip and $name.msi"
        [[ -z $authenticode ]] || authenticode "$stage/$name/Zandrel.exe" "$name.exe.authenticode.pem"
        zip_folder "$name"
        installer "$name"
        [[ -z $authenticode ]] || authenticode "$output/$name.msi" "$name.msi.authenticode.pem"
        holds "$name.zip" "$name/Zandrel.exe" "$stage/$name/Zandrel.exe" "$build"
        holds "$name.msi" Zandrel.exe "$stage/$name/Zandrel.exe" "$build"
        continue
    fi
    step "${target:-$preset}: $name.tar.gz, the Debian packages and the RPM package"
    tar_gz "$name"
    rpm_package "$name" "$build"
    holds "$name.tar.gz" "$name/bin/Zandrel" "$stage/$name/bin/Zandrel" "$build"
    # One package for each Debian architecture the program serves (32-bit
    # ARM: armel and armhf alike).
    architectures=$(sed -n 's/^ZANDREL_PACKAGE_ARCHITECTURES:INTERNAL=//p' "$build/CMakeCache.txt")
    for architecture in ${architectures//;/ }; do
        rm -rf "$build/package"
        # CPack's folders and the modes in the package's own headers follow
        # the umask; the tarball's modes are set above.
        (umask 022 && cpack --preset "$preset" -D CPACK_DEBIAN_PACKAGE_ARCHITECTURE="$architecture" >/dev/null)
        for package in "$build/package/"*.deb; do
            static_built_using "$package" "$(<"$build/static-built-using")"
            cp "$package" "$output/"
            made+=("$(basename "$package")")
            holds "$(basename "$package")" usr/bin/Zandrel "$stage/$name/bin/Zandrel" "$build"
        done
    done
done

step "BUILDINFO and the bill of materials"
{
    echo "Zandrel $version, made by scripts/release.sh"
    echo "commit: $commit"
    echo "SOURCE_DATE_EPOCH: $SOURCE_DATE_EPOCH"
    if [[ -n $root ]]; then
        # Enough to make the same root again: every package, at its version.
        echo "root: Debian $(cat /etc/debian_version), made by mmdebstrap"
        echo "suite: ${root%%,*}"
        echo "architectures: $(dpkg --print-architecture | cat - <(dpkg --print-foreign-architectures) | xargs)"
        echo "mirror: ${root#*,}"
        echo "packages:"
        dpkg-query -W -f='  ${binary:Package} ${Version}\n' | LC_ALL=C sort
    else
        (. /etc/os-release && echo "tools: this machine's own ($PRETTY_NAME), with --host-tools: not a published release")
    fi
} >"$output/BUILDINFO"
made+=(BUILDINFO)
python3 scripts/release-contents.py sbom "$output" "$stage/contents" "$version" "$commit" "$SOURCE_DATE_EPOCH"
made+=("Zandrel-$version.cdx.json")

step "sums"
(
    cd "$output"
    for artefact in "${made[@]}"; do
        sha256sum "$artefact" >"$artefact.sha256"
    done
    printf '%s\n' "${made[@]}" | LC_ALL=C sort | sed 's/$/.sha256/' | xargs cat >SHA256SUMS
)
