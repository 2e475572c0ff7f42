#!/usr/bin/env bash
# Installs what the tests need (Debian packages, when run as root), then
# configures, builds and runs every test. Ends non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

# Every package a step below uses (cmake/preset-packages.txt): a minimal
# Debian has none of them.
scripts/install-packages.sh --all
mapfile -t cross_targets < <(grep -v '^#' cmake/linux-targets.txt)

step() { echo; echo "== $* (at ${SECONDS} s)"; }

step "g++: build with warnings as errors, run every test"
cmake --workflow --preset dev

# The release programs must not fall back to glibc quietly where musl is installed.
linked_against_musl() { # build folder
    grep -q '^ZANDREL_CAN_LINK_AGAINST_MUSL:INTERNAL=1$' "$1/CMakeCache.txt" ||
        { echo "$1/Zandrel is not linked against musl"; exit 1; }
}

step "release: the static musl program against the end-to-end table; the dynamic one needs the C library alone"
cmake --workflow --preset release
linked_against_musl build/release
python3 tests/e2e/run_cases.py --exe build/release/Zandrel
needed=$(readelf -d build/dev/Zandrel | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
if [[ $needed != libc.so.6 ]]; then
    echo "build/dev/Zandrel needs more than the C library at run time:" $needed
    exit 1
fi

step "processors without AVX2 under qemu-x86_64: the kernel test (the shipped program's table: below)"
for cpu in $(grep -v '^#' tests/x86_64-processors.txt); do
    echo "-cpu $cpu"
    qemu-x86_64 -cpu "$cpu" build/dev/tests/zandrel_unit_tests --gtest_filter='SumKernels.*' --gtest_brief=1
done

step "clang: build with warnings as errors, run the tests"
cmake --workflow --preset dev-clang

step "AddressSanitizer and UndefinedBehaviorSanitizer: every test"
cmake --workflow --preset asan

step "fuzz targets: build, run the seeds, then fuzz each for ${ZANDREL_FUZZ_SECONDS:=20} s"
cmake --workflow --preset fuzz
scripts/fuzz.sh "$ZANDREL_FUZZ_SECONDS"

step "static analysis"
scripts/static_analysis.sh

step "benchmarks: build only (bench/compare.sh runs them)"
cmake --workflow --preset bench

step "Windows: cross-build, check the executable, run the unit and end-to-end tests under wine"
cmake --workflow --preset windows

for line in "${cross_targets[@]}"; do
    read -r target triplet musl qemu processor debian <<<"$line"
    step "$target: cross-build, unit and end-to-end tests under qemu-$qemu -cpu ${processor%%,*}"
    # aarch64's own preset adds the kernel benchmark.
    preset=cross
    [[ $target == aarch64 ]] && preset=aarch64
    ZANDREL_TARGET=$target cmake --workflow --preset $preset
    # Where this Debian has the target's musl (Debian 12 has none for riscv64).
    if [[ $(dpkg-query -W -f='${Status}' "musl-dev:${debian%%,*}" 2>/dev/null) == *'ok installed' ]]; then
        linked_against_musl "build/$target"
    fi
done
# Under emulation its figures only show the NEON kernel far ahead of the byte loop.
# Google Benchmark 1.8 and later (Debian 13) want the time's unit; 1.7 takes none.
min_time=0.05
dpkg --compare-versions "$(dpkg-query -W -f='${Version}' libbenchmark-dev:arm64)" ge 1.8 && min_time+=s
qemu-aarch64 -L /usr/aarch64-linux-gnu build/aarch64/bench/zandrel_kernel_bench --benchmark_min_time=$min_time

# What a release root's making leaves of the two processors (dpkg and the
# disk) another step uses, in the background; its output is shown when done.
declare -A background
beside() { # name command...: runs it in the background, into build/NAME.log
    "${@:2}" >"build/$1.log" 2>&1 &
    background[$1]=$!
}
gather() { # name: waits for it, shows its output, fails where it failed
    local status=0
    wait "${background[$1]}" || status=$?
    cat "build/$1.log"
    ((status == 0)) || { echo "$1 failed"; exit 1; }
}

step "release: every artefact into dist/"
scripts/release.sh
# Its complaint about running as root goes to stderr; any error or warning fails.
lintian --fail-on error,warning dist/*.deb

step "Authenticode from a key file (the release made again from a clone under umask 077) and from a token," \
    "the Windows installer under wine, check-release.sh; beside them, the programs as shipped and the apt repository"
beside shipped scripts/test-shipped.sh dist
beside signing tests/release/signing.sh dist
tests/release/windows.sh dist
gather shipped
gather signing

echo
echo "== all checks passed in ${SECONDS} s"
