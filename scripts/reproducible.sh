#!/usr/bin/env bash
# Builds the release programs once more from a copy of the sources in another
# folder and checks that they are byte for byte those in build/, and that
# neither holds the path it was built in: anyone can rebuild a download and
# compare. Run after the release and windows presets have built.
set -euo pipefail
cd "$(dirname "$0")/.."

programs=(release/Zandrel windows/Zandrel.exe)
copy=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-again-XXXXXX")
trap 'rm -rf "$copy"' EXIT
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$copy"
(
    cd "$copy"
    cmake --preset release >/dev/null
    cmake --build --preset release >/dev/null
    cmake --preset windows -DZANDREL_BUILD_TESTS=OFF >/dev/null
    cmake --build --preset windows --target Zandrel >/dev/null
)

status=0
for program in "${programs[@]}"; do
    if ! cmp "build/$program" "$copy/build/$program"; then
        echo "FAIL build/$program differs when built in another folder"
        status=1
    fi
    for folder in "$PWD" "$copy"; do
        if grep -q -F "$folder" "build/$program" "$copy/build/$program"; then
            echo "FAIL build/$program holds the path $folder"
            status=1
        fi
    done
done
((status == 0)) && echo "same bytes from $PWD and $copy: ${programs[*]}"
exit $status
