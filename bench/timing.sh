# Timing helpers shared by the benchmark scripts; source it.

seconds() { # command...: wall time of one run, in seconds
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.4f", ns / 1e9 }'
}

best() { tr ' ' '\n' <<<"$1" | grep . | sort -n | head -1; }
median() { tr ' ' '\n' <<<"$1" | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
