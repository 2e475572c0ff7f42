#!/bin/sh
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Makes a release into dist/: scripts/release.py build (doc/releasing.md).
exec python3 "$(dirname "$0")/release.py" build "$@"
