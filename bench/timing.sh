# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# shellcheck shell=bash
# Timing helpers shared by the benchmark scripts; source it.

require() { # command...: stops, naming what is missing, unless every command is at hand
    local missing=()
    for command in "$@"; do
        command -v "$command" >/dev/null || missing+=("$command")
    done
    if ((${#missing[@]})); then
        echo "$(basename "$0") needs: ${missing[*]} (scripts/test.sh installs them on Debian, as root)" >&2
        exit 1
    fi
}

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
