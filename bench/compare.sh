#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Times Zandrel against its peers on one 1 GiB file in the page cache, in
# interleaved rounds, and checks that its sum agrees with sum -s.
#   bench/compare.sh [ROUNDS]      (default 7; needs ~1 GiB free in TMPDIR)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-7}
# shellcheck source=bench/timing.sh
source bench/timing.sh
require cmake make c++ sum awk /usr/bin/time

cmake --workflow --preset bench >/dev/null
zandrel=build/bench/Zandrel
request_size=build/bench/bench/zandrel_request_size

work=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
big=$work/random-1GiB.bin
small=$work/random-1KiB.bin
head -c $((1 << 30)) /dev/urandom >"$big"
head -c 1024 /dev/urandom >"$small"
cat "$big" >/dev/null # into the page cache

# name|command; the file name is appended.
contestants=(
    "Zandrel /r:8|$zandrel /r:8"
    "sum -s|sum -s"
    "cat >/dev/null|cat"
    "10-byte requests|$request_size 10"
)
for size in 65536 131072 262144 524288 1048576; do
    contestants+=("requests of $((size / 1024)) KiB|$request_size $size")
done

declare -A times
for ((round = 1; round <= rounds; round++)); do
    for entry in "${contestants[@]}"; do
        name=${entry%%|*}
        read -ra command <<<"${entry#*|}"
        times[$name]+="$(seconds "${command[@]}" "$big") "
    done
done

echo "1 GiB in the page cache, best and median of $rounds interleaved rounds (seconds):"
for entry in "${contestants[@]}"; do
    name=${entry%%|*}
    printf '  %-22s best %7.4f  median %7.4f\n' "$name" "$(best "${times[$name]}")" "$(median "${times[$name]}")"
done
# The floor: reading the file as cat does, plus summing it in memory with the
# kernel the program takes, at the best rate the kernel benchmark measures on
# the engine's buffer.
kernel_rate=$(build/bench/bench/zandrel_kernel_bench --benchmark_filter="/$((256 << 10))\$" \
    --benchmark_format=csv 2>/dev/null | awk -F, 'NR > 1 && $6 + 0 > best { best = $6 + 0 } END { print best }')
cat_time=$(best "${times["cat >/dev/null"]}")
kernel_time=$(awk -v rate="$kernel_rate" 'BEGIN { printf "%.4f", 2 ^ 30 / rate }')
floor=$(awk -v a="$cat_time" -v b="$kernel_time" 'BEGIN { printf "%.4f", a + b }')
ours=$(best "${times["Zandrel /r:8"]}")
echo "Zandrel against its floor, cat plus the kernel's own time ($cat_time + $kernel_time s):" \
    "$(ratio "$ours" "$floor") x"
echo "beside its peers: $(ratio "$ours" "$cat_time") x cat, $(ratio "$ours" "$(best "${times["sum -s"]}")") x sum -s"

# sum -s prints the 32-bit byte sum folded to 16 bits the System V way.
ours_hex=$("$zandrel" /r:8 "$big" | sed -n 's/^data : \([0-9a-f]*\) $/\1/p')
s=$((16#$ours_hex))
r=$(((s & 0xffff) + (s >> 16)))
r=$(((r & 0xffff) + (r >> 16)))
theirs=$(sum -s "$big" | awk '{ print $1 }')
if [[ $r -eq $theirs ]]; then
    echo "sum agrees: Zandrel $ours_hex folds to $r, sum -s says $theirs"
else
    echo "SUM MISMATCH: Zandrel $ours_hex folds to $r, sum -s says $theirs"
    exit 1
fi

# One run's peak varies by some 100 KiB (where the loader's pages land), so
# take the median of several.
peak_kib() { # file: median peak resident memory of 7 runs, in KiB
    local runs=""
    for _ in 1 2 3 4 5 6 7; do
        runs+="$(/usr/bin/time -f %M "$zandrel" /r:8 "$1" 2>&1 >/dev/null) "
    done
    median "$runs"
}
peak_small=$(peak_kib "$small")
peak_big=$(peak_kib "$big")
echo "peak resident memory, median of 7 runs: ${peak_small} KiB for 1 KiB, ${peak_big} KiB for 1 GiB" \
    "(difference $((peak_big - peak_small)) KiB; the work buffer is 256)"
