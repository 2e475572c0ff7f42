#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Runs each fuzz target for SECONDS (default 20), starting from the seed
# corpus in the tree. New inputs go to build/fuzz/corpus/, never into the tree.
# Exit codes (scripts/lib.sh): 0 no findings; 1 a target failed.
#   scripts/fuzz.sh [SECONDS]      (after: cmake --workflow --preset fuzz)
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cd "$zandrel_top"
seconds=${1:-20}
export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

for seeds in fuzz/corpus/*/; do
    target=$(basename "$seeds")
    work=build/fuzz/corpus/$target
    mkdir -p "$work"
    options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/"$target"-)
    [[ -f fuzz/$target.dict ]] && options+=(-dict=fuzz/"$target".dict)
    log=build/fuzz/$target.log
    if ! build/fuzz/"$target" "${options[@]}" "$work" "$seeds" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        die 1 "$target: FAILED (log in $log)"
    fi
    echo "$target: $(sed -n 's/^stat::number_of_executed_units: *//p' "$log") executions in ${seconds} s, no findings"
done
