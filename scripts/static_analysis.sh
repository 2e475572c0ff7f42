#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# clang-tidy (checks in .clang-tidy) and cppcheck over the program's code;
# any finding fails. Needs build/dev/compile_commands.json (the dev preset).
# Exit codes (scripts/lib.sh): 0 no findings; 1 a finding; 2 a tool failed.
set -euo pipefail
# shellcheck source=lib.sh
source "$(dirname "$0")/lib.sh"
cd "$zandrel_top"

[[ -f build/dev/compile_commands.json ]] || cmake --preset dev >/dev/null

echo "clang-tidy:"
# Its count of warnings in system headers, and newer ones' progress, go to
# stderr; findings do not.
# The files the dev build compiles: the Windows-only ones need Windows' headers.
mapfile -t sources < <(sed -n 's|.*"file": "\(.*/source/[^"]*\.cpp\)".*|\1|p' build/dev/compile_commands.json | sort -u)
clang-tidy --quiet -p build/dev "${sources[@]}" 2> >(grep -v -E '^[0-9]+ warnings? generated\.$|^\[[0-9]+/[0-9]+\] Processing file ' >&2)
echo "cppcheck:"
# Newer cppcheck limits its branch analysis unless asked not to, and says so
# as a finding; the code is small enough to analyse whole.
exhaustive=()
[[ $(cppcheck --help) == *--check-level* ]] && exhaustive=(--check-level=exhaustive)
cppcheck "${exhaustive[@]}" --enable=warning,style,performance,portability --std=c++17 --language=c++ \
    --error-exitcode=1 --quiet --suppress=missingIncludeSystem -I source source/
echo "static analysis: no findings"
