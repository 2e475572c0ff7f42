#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck over the program's code;
# any finding fails. Needs build/dev/compile_commands.json (the dev preset).
set -euo pipefail
cd "$(dirname "$0")/.."

[[ -f build/dev/compile_commands.json ]] || cmake --preset dev >/dev/null

echo "clang-tidy:"
# Its count of warnings in system headers goes to stderr; findings do not.
clang-tidy --quiet -p build/dev source/*.cpp 2> >(grep -v -E '^[0-9]+ warnings? generated\.$' >&2)
echo "cppcheck:"
cppcheck --enable=warning,style,performance,portability --std=c++17 --language=c++ \
    --error-exitcode=1 --quiet --suppress=missingIncludeSystem -I source source/
echo "static analysis: no findings"
