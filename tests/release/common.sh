# What the release tests share: a folder of their own, checks that count their
# failures, a byte changed on purpose, and throwaway keys made for one run and
# never kept. Sourced by tests/release/*.sh, which stand in the source folder.
export WORK
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zandrel-release-test-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
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
refuses_saying() { # line, then the command: it ends with exit 1, and a line of its output matches
    local status=0
    "${@:2}" >"$WORK/refusal.log" 2>&1 || status=$?
    ((status == 1)) && grep -q "$1" "$WORK/refusal.log" || { echo "exit $status:"; cat "$WORK/refusal.log"; false; }
}
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
make_openpgp_key() { # user id: its fingerprint
    gpg --batch --quiet --passphrase '' --quick-gen-key "$1" ed25519 sign never 2>"$WORK/gpg.log" ||
        { cat "$WORK/gpg.log" >&2; return 1; }
    gpg --batch --with-colons --list-secret-keys "$1" 2>/dev/null | awk -F: '$1 == "fpr" && !shown++ { print $10 }'
}
