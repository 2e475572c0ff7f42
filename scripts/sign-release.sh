#!/bin/sh
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Signs a release: scripts/release.py sign (doc/releasing.md).
exec python3 "$(dirname "$0")/release.py" sign "$@"
