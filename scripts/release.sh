#!/bin/sh
# Makes a release into dist/: scripts/release.py build (doc/releasing.md).
exec python3 "$(dirname "$0")/release.py" build "$@"
