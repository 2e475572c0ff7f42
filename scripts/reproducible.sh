#!/usr/bin/env bash
# Makes the release once more from a copy of the sources in another folder,
# under umask 077, and checks that dist/ comes out byte for byte the same and
# that no program holds the path it was built in: anyone can rebuild a
# download and compare. Run after scripts/release.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
[[ -f dist/SHA256SUMS ]] || { echo "no dist/SHA256SUMS: run scripts/release.sh first"; exit 1; }

programs=(release/Zandrel aarch64/Zandrel windows/Zandrel.exe)
copy=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-again-XXXXXX")
trap 'rm -rf "$copy"' EXIT
# The copy has no history, so it is given the commit and its time, as ours
# has them (BUILDINFO's line for it included).
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export ZANDREL_COMMIT=${ZANDREL_COMMIT:-$(sed -n 's/^commit: //p' dist/BUILDINFO)}
(
    umask 077
    git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$copy"
    cd "$copy" && scripts/release.sh >/dev/null
)

status=0
if ! cmp -s dist/SHA256SUMS "$copy/dist/SHA256SUMS"; then
    echo "FAIL the release differs when made in another folder under umask 077:"
    diff dist/SHA256SUMS "$copy/dist/SHA256SUMS" || true
    status=1
fi
for program in "${programs[@]}"; do
    for folder in "$PWD" "$copy"; do
        if grep -q -F "$folder" "build/$program" "$copy/build/$program"; then
            echo "FAIL build/$program holds the path $folder"
            status=1
        fi
    done
done
((status == 0)) && echo "same release from $PWD and $copy (umask 077): $(wc -l <dist/SHA256SUMS) artefacts"
exit $status
