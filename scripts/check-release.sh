#!/bin/sh
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Makes a published release again and compares: scripts/release.py check (doc/releasing.md).
exec python3 "$(dirname "$0")/release.py" check "$@"
