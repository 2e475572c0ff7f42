#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Times the start of Zandrel on small files: rounds of 100 runs from a shell
# loop, interleaved, against its floor, a glibc static program whose main only
# returns (what a program costs before it does anything), and beside sum -s.
#   bench/startup.sh [ROUNDS]      (default 9)
#   ZANDREL_ALSO=PROGRAM bench/startup.sh   also times another build beside it
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-9}
runs_per_round=100
# shellcheck source=bench/timing.sh
source bench/timing.sh
require cmake make "${CXX:-c++}" sum awk dash

cmake --workflow --preset bench >/dev/null
zandrel=build/bench/Zandrel

work=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-start-XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c 4096 /dev/urandom >"$work/4KiB.bin"
head -c $((1 << 20)) /dev/urandom >"$work/1MiB.bin"
echo 'int main() { return 0; }' | "${CXX:-c++}" -O2 -static -x c++ - -o "$work/floor"

# name|command. A name ends in its file's size, whose sum -s run it is held
# against; the floor, which reads no file, is held against sum -s on 4 KiB.
contestants=()
for file in 4KiB 1MiB; do
    contestants+=("Zandrel /r:8, $file|$zandrel /r:8 $work/$file.bin" "sum -s, $file|sum -s $work/$file.bin")
    [[ -n ${ZANDREL_ALSO:-} ]] && contestants+=("$ZANDREL_ALSO, $file|$ZANDREL_ALSO /r:8 $work/$file.bin")
done
contestants+=("floor: static main returning 0|$work/floor")

# The loop runs in dash, whose fork is cheaper than bash's: less of what is
# timed is the loop's own.
repeat() { # command...: runs it runs_per_round times
    # shellcheck disable=SC2016 # dash expands its own variables
    dash -c 'i=0; while [ $i -lt '$runs_per_round' ]; do "$@" >/dev/null; i=$((i + 1)); done' repeat "$@"
}

declare -A times
for ((round = 1; round <= rounds; round++)); do
    for entry in "${contestants[@]}"; do
        read -ra command <<<"${entry#*|}"
        times[${entry%%|*}]+="$(seconds repeat "${command[@]}") "
    done
done

per_run_ms() { awk -v s="$1" -v n=$runs_per_round 'BEGIN { printf "%.3f", s * 1000 / n }'; }
floor=$(median "${times["floor: static main returning 0"]}")
echo "time per run, median of $rounds interleaved rounds of $runs_per_round runs, and against the floor" \
    "(a glibc static program whose main only returns) and sum -s on the same file:"
for entry in "${contestants[@]}"; do
    name=${entry%%|*}
    size=${name##*, }
    peer=$(median "${times["sum -s, $size"]:-${times["sum -s, 4KiB"]}}")
    printf '  %-36s %7s ms   %s x floor   %s x sum -s\n' "$name" "$(per_run_ms "$(median "${times[$name]}")")" \
        "$(ratio "$(median "${times[$name]}")" "$floor")" "$(ratio "$(median "${times[$name]}")" "$peer")"
done
