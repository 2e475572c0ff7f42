# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# shellcheck shell=bash
# What the release tests share: a folder of their own, what they start ended
# when they end however they end, checks that count their failures, a byte
# changed on purpose, and throwaway keys made for one run and never kept.
# Sourced by tests/release/*.sh, which stand in the source folder.
export WORK
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-release-test-XXXXXX")
endings=("rm -rf '$WORK'")
at_end() { # command: run when the test ends, before those given earlier
    endings=("$1" "${endings[@]}")
}
ending() {
    local command
    for command in "${endings[@]}"; do eval "$command" || true; done
}
trap ending EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
failures=0
check() { # what, then the command that must succeed
    local what=$1
    shift
    if "$@" >"$WORK/check-output" 2>&1; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        tail -n 15 "$WORK/check-output" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}
fails() { ! "$@"; }
declare -A background
beside() { # name command...: runs it in the background, into $WORK/NAME.log
    "${@:2}" >"$WORK/$1.log" 2>&1 &
    background[$1]=$!
    at_end "kill ${background[$1]} 2>/dev/null"
}
gather() { # name: waits for it; shows its output where it failed
    wait "${background[$1]}" || { cat "$WORK/$1.log"; return 1; }
}
exits_saying() { # code, line, then the command: it ends with that code, and a line on its standard error matches
    local status=0
    "${@:3}" >"$WORK/exit.out" 2>"$WORK/exit.err" || status=$?
    if ((status != $1)) || ! grep -q "$2" "$WORK/exit.err"; then
        echo "exit $status:"
        cat "$WORK/exit.out" "$WORK/exit.err"
        return 1
    fi
}
refuses_saying() { exits_saying 1 "$@"; } # line, then the command
file_sums() { (cd "$1" && find . -type f | LC_ALL=C sort | xargs sha256sum); }
differ() { ! cmp -s "$1" "$2"; }
finish() { # what was checked
    ((failures == 0)) || { echo "$failures $1 checks failed"; exit 1; }
    echo "every $1 check passed"
}
change_byte() { # file offset: the byte there made another digit
    python3 - "$1" "$2" <<'PYTHON'
import sys
path, offset = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, "rb").read())
data[offset] = ord("1") if data[offset] == ord("0") else ord("0")
open(path, "wb").write(data)
PYTHON
}

# OpenPGP keys in a keyring of the run's own, made now, after the release's
# commit, as a new maintainer's are.
export GNUPGHOME=$WORK/gnupg
mkdir -m 700 "$GNUPGHOME"
at_end 'gpgconf --kill all 2>/dev/null' # the agent gpg started for that keyring
make_openpgp_key() { # user id [algorithm]: its fingerprint
    gpg --batch --quiet --passphrase '' --quick-gen-key "$1" "${2:-ed25519}" sign never 2>"$WORK/gpg.log" ||
        { cat "$WORK/gpg.log" >&2; return 1; }
    gpg --batch --with-colons --list-secret-keys "$1" 2>/dev/null | awk -F: '$1 == "fpr" && !shown++ { print $10 }'
}
