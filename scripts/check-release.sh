#!/bin/sh
# Makes a published release again and compares: scripts/release.py check (doc/releasing.md).
exec python3 "$(dirname "$0")/release.py" check "$@"
