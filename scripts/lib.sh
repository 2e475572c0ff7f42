# shellcheck shell=bash disable=SC2034 # its names are for the scripts that source it
# What the scripts share, sourced by each (never run on its own): the one
# contract for exit codes and messages, the target table, the packages each
# use needs, BUILDINFO's fields, and the names of what a release publishes.
#
# Every script ends with
#   0  done;
#   1  a difference found, a bad signature, or a refusal;
#   2  usage, a missing input, or nothing could start (a failed build too);
#   3  the mirror lacks a package version (nothing was built).
# and writes every error to standard error, naming itself and what failed.

zandrel_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
zandrel_script=$(basename "$0" .sh)

die() { # code message...: the message on standard error, then that exit code
    local code=$1
    shift
    echo "$zandrel_script: $*" >&2
    exit "$code"
}

# The Linux programs cross-built on x86-64 (CMake reads the same table in
# cmake/linux-cross.cmake), one record a line: TARGET TRIPLET MUSL QEMU
# PROCESSOR DEBIAN RPM, DEBIAN being the Debian packages' architectures,
# comma-separated, and RPM the RPM package's.
targets() { grep -v '^#' "$zandrel_top/cmake/linux-targets.txt"; }
target_names() { targets | awk '{ print $1 }'; }
target_field() { # target field (triplet, musl, qemu, processor, debian, rpm)
    local target triplet musl qemu processor debian rpm
    read -r target triplet musl qemu processor debian rpm < <(targets | awk -v target="$1" '$1 == target')
    [[ -n ${target:-} ]] || die 2 "no target '$1' in cmake/linux-targets.txt; one of: $(target_names | xargs)"
    echo "${!2}"
}
# A target's cross compiler, and its musl for its first Debian architecture,
# marked ? as Debian releases may lack it (Debian 12 has none for riscv64).
target_packages() { # target
    local musl
    musl=$(target_field "$1" musl)
    echo "g++-$(target_field "$1" triplet)"
    [[ $musl == - ]] || echo "musl-dev:$(target_field "$1" debian | cut -d, -f1)?"
}
# The x86-64 processors without AVX2 that the kernel test and the shipped
# program run on, as qemu-x86_64 names them.
x86_64_test_processors() { grep -v '^#' "$zandrel_top/tests/x86_64-processors.txt"; }
# A row of cmake/preset-packages.txt: a preset's packages, or another use's.
row_packages() { # row
    awk -v row="$1" '!/^#/ && $1 == row { for (i = 2; i <= NF; i++) print $i }' "$zandrel_top/cmake/preset-packages.txt"
}

# BUILDINFO, which scripts/release-artefacts.sh writes: a field by name
# ("commit", "SOURCE_DATE_EPOCH", "suite", "architectures", "mirror"), and the
# release root's packages as PACKAGE=VERSION, a line each.
buildinfo_field() { # file field
    sed -n "s/^$2: //p" "$1"
}
buildinfo_packages() { # file
    sed -n '/^packages:$/,$ s/^  \([^ ]*\) \([^ ]*\)$/\1=\2/p' "$1"
}
release_epoch() { # BUILDINFO: its SOURCE_DATE_EPOCH, or exit 2
    local epoch
    epoch=$(buildinfo_field "$1" SOURCE_DATE_EPOCH)
    [[ $epoch =~ ^[0-9]+$ ]] || die 2 "$1 gives no SOURCE_DATE_EPOCH"
    echo "$epoch"
}

# What signing the Windows program and installer changes in a release: those
# artefacts, and the bill of materials, which holds their sums.
changed_by_authenticode() { # artefact
    [[ $1 == *-Windows-x86_64.* || $1 == *.cdx.json ]]
}

# Where a release is published, with its apt repository under apt/ and its
# RPM repository under rpm/; the apt repository's suite and component, and
# the name of its public key, which users' files hold.
release_address=https://zandrel.example.org
apt_suite=stable apt_component=main apt_keyring=zandrel-archive-keyring.gpg
# The RPM repository's, under rpm/: the armoured public key and the .repo file.
rpm_key=RPM-GPG-KEY-zandrel rpm_repository_file=zandrel.repo
