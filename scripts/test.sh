#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Installs what the tests need (Debian packages, when run as root), then
# configures, builds and runs every test. Exit codes (scripts/lib.sh): 0
# every test passed; 1 one failed; 2 what the tests need could not be had.
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cd "$zandrel_top"

# Every package a step below uses (cmake/preset-packages.txt): a minimal
# Debian has none of them.
scripts/install-packages.sh --all
# npm is Debian's package, or comes with another Node.js, which forbids that one.
command -v npm >/dev/null || scripts/install-packages.sh npm

step() { echo; echo "== $* (at ${SECONDS} s)"; }

step "shellcheck: every script and test script"
mapfile -t shell_scripts < <(git ls-files '*.sh' .ci/run)
shellcheck -x "${shell_scripts[@]}"

step "reuse lint: every file names its licence and copyright"
reuse lint --quiet || { reuse lint | tail -n 30; die 1 "files without licence or copyright information"; }

# The release and its tests run in the background, each in a session of its
# own and marked in its environment, so that whatever it started is found: a
# test that leaves anything running fails, and when a step fails, what runs
# beside it is ended and its output shown. A release root's making, mostly
# downloads, dpkg and the disk, leaves the processors to the builds and tests.
declare -A background
marker() { echo "ZANDREL_TEST_JOB=$$-$1"; }
left_running() { # name: the processes still marked with it, one a line
    # One that is on its way out (or a zombie its parent has yet to reap) runs
    # nothing: such a process has five seconds to be gone.
    local attempt marked
    for attempt in {1..50}; do
        marked=$(grep -lzx "$(marker "$1")" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | paste -sd, -) || true
        [[ -z $marked ]] ||
            marked=$({ ps -o pid=,stat= -p "$marked" || true; } | awk '$2 !~ /^Z/ { print $1 }')
        [[ -n $marked ]] || return 0
        ((attempt == 50)) || sleep 0.1
    done
    echo "$marked"
}
beside() { # name command...: runs it in the background, into build/NAME.log
    mkdir -p build
    env "$(marker "$1")" setsid "${@:2}" >"build/$1.log" 2>&1 &
    background[$1]=$!
}
gather() { # name [fails]: waits for it and shows its output; it must pass (or fail), and leave nothing running
    local status=0 left
    wait "${background[$1]}" || status=$?
    unset "background[$1]"
    if [[ ${2:-} == fails ]]; then # its failures are meant, and shown so
        sed 's/^FAIL /as meant, not passed: /; s/^\([0-9]* .* checks\) failed$/\1 did not pass, as meant/' "build/$1.log"
    else
        cat "build/$1.log"
    fi
    mapfile -t left < <(left_running "$1")
    if ((${#left[@]})); then
        ps -o pid=,args= -p "$(IFS=,; echo "${left[*]}")" >&2 || true
        kill "${left[@]}" 2>/dev/null || true
        die 1 "$1 left these running"
    fi
    if [[ ${2:-} == fails ]]; then ((status != 0)) || die 1 "$1 passed, where it must fail"; return; fi
    ((status == 0)) || die 1 "$1 failed"
}
end_background() {
    local name left
    for name in "${!background[@]}"; do
        kill -TERM -- "-${background[$name]}" 2>/dev/null || true
        wait "${background[$name]}" || true
        echo "== $name, ended as a step failed:"
        tail -n 40 "build/$name.log"
        mapfile -t left < <(left_running "$name")
        ((${#left[@]} == 0)) || kill "${left[@]}" 2>/dev/null || true
    done
}
trap end_background EXIT

step "release: every artefact into dist/, in the background while the steps below build and test," \
    "with a SOURCE_DATE_EPOCH of a packager's exported, which a release passes over for its commit's time"
beside release env SOURCE_DATE_EPOCH=1600000000 scripts/release.sh

step "g++: build with warnings as errors, run every test"
cmake --workflow --preset dev

# The release programs must not fall back to glibc quietly where musl is installed.
linked_against_musl() { # build folder
    grep -q '^ZANDREL_CAN_LINK_AGAINST_MUSL:INTERNAL=1$' "$1/CMakeCache.txt" ||
        die 1 "$1/Zandrel is not linked against musl"
}

step "release: the static musl program against the end-to-end table; the dynamic one needs the C library alone"
cmake --workflow --preset release
linked_against_musl build/release
python3 tests/e2e/run_cases.py --exe build/release/Zandrel
needed=$(readelf -d build/dev/Zandrel | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[[ $needed == libc.so.6 ]] || die 1 "build/dev/Zandrel needs more than the C library at run time: $(xargs <<<"$needed")"

step "processors without AVX2 under qemu-x86_64: the kernel test (the shipped program's table: below)"
for cpu in $(x86_64_test_processors); do
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

# Two targets at a time: each is a small build, then tests under one emulator.
cross_tested() { # target: its output, and its musl where this Debian has it (12 has none for riscv64)
    local musl
    gather "$1"
    musl=$(target_packages "$1" | sed -n 's/^\(musl-dev:.*\)?$/\1/p')
    if [[ -n $musl && $(dpkg-query -W -f='${Status}' "$musl" 2>/dev/null) == *'ok installed' ]]; then
        linked_against_musl "build/$1"
    fi
}
previous=""
for target in $(target_names); do
    processor=$(target_field "$target" processor)
    step "$target: cross-build, unit and end-to-end tests under qemu-$(target_field "$target" qemu) -cpu ${processor%%,*}"
    # aarch64's own preset adds the kernel benchmark.
    preset=cross
    [[ $target == aarch64 ]] && preset=aarch64
    beside "$target" env ZANDREL_TARGET="$target" cmake --workflow --preset $preset
    [[ -z $previous ]] || cross_tested "$previous"
    previous=$target
done
cross_tested "$previous"
# Under emulation its figures only show the NEON kernel far ahead of the byte loop.
# Google Benchmark 1.8 and later (Debian 13) want the time's unit; 1.7 takes none.
min_time=0.05
dpkg --compare-versions "$(dpkg-query -W -f='${Version}' libbenchmark-dev:arm64)" ge 1.8 && min_time+=s
qemu-aarch64 -L /usr/aarch64-linux-gnu build/aarch64/bench/zandrel_kernel_bench --benchmark_min_time=$min_time

step "release: every artefact, its Debian and RPM packages linted"
gather release
grep -q '^note: SOURCE_DATE_EPOCH=1600000000 is set here; a release takes the time of its commit' build/release.log ||
    die 1 "the release did not say that it passed over SOURCE_DATE_EPOCH"
[[ $(sed -n 's/^SOURCE_DATE_EPOCH: //p' dist/BUILDINFO) == "$(git log -1 --format=%ct)" ]] ||
    die 1 "dist/BUILDINFO does not give the commit's time"
# Its complaint about running as root goes to stderr; any error or warning fails.
lintian --fail-on error,warning dist/*.deb
# Any error fails; cmake/rpmlintrc says which findings are meant.
rpmlint -r cmake/rpmlintrc dist/*.rpm

step "a release test made to fail (its lines say so) leaves nothing of its own running"
rm -rf build/not-a-release && cp -R dist build/not-a-release && rm build/not-a-release/*-Windows-x86_64.zip
beside failing tests/release/windows.sh build/not-a-release
gather failing fails

step "Authenticode from a key file (from a clone under umask 077) and from a token, signings at once and stopped," \
    "the Windows installer under wine, check-release.sh; beside them, the programs as shipped, the apt repository" \
    "and the source release built as a distribution builds it"
beside source tests/release/source.sh dist
beside shipped scripts/test-shipped.sh dist
beside signing tests/release/signing.sh dist
beside windows tests/release/windows.sh dist
gather windows
gather shipped
gather source
gather signing

echo
echo "== all checks passed in ${SECONDS} s"
