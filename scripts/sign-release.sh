#!/bin/sh
# Signs a release: scripts/release.py sign (doc/releasing.md).
exec python3 "$(dirname "$0")/release.py" sign "$@"
