#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Starts a persistent wine server (and lets wine set up its prefix) before the
# tests, and stops it after. Both run with their standard streams detached:
# wine's helper processes would otherwise hold the first test's pipes open.
set -euo pipefail
case "$1" in
start)
    wineserver=$2 wine=$3 exe=$4
    mkdir -p "${WINEPREFIX:?}"
    "$wineserver" -p </dev/null >/dev/null 2>&1
    "$wine" "$exe" '/?' </dev/null >/dev/null 2>&1 || true
    ;;
stop)
    "$2" -k </dev/null >/dev/null 2>&1 || true
    ;;
esac
