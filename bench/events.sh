#!/usr/bin/env bash
# Runs bench/events.R with a throw-away PostgreSQL server (as tools/run.sh
# test starts one), stopped on every way out.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/pg.sh
pg_start
export PG_BIN
R_LIBS="${R_LIBS:-.rlib}" Rscript bench/events.R "$@"
