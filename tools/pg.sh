# Sourced by tools/run.sh and bench/events.sh (not run on its own).
# A throw-away PostgreSQL server for the database tests: a temporary data
# directory, reachable only through a socket in that directory, stopped and
# removed on every way out of this script. initdb refuses root, so as root
# the server runs as the unprivileged user postgres.
PG_DIR=""
as_pg() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
pg_stop() {
  if [ -n "$PG_DIR" ] && [ -d "$PG_DIR" ]; then
    as_pg "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop > /dev/null 2>&1 || true
    rm -rf "$PG_DIR"
  fi
  PG_DIR=""
}
pg_start() {
  PG_BIN=$(ls -d /usr/lib/postgresql/*/bin 2> /dev/null | sort -V | tail -1)
  if [ ! -x "$PG_BIN/initdb" ]; then echo "PostgreSQL not found: its tests are skipped"; return 0; fi
  trap pg_stop EXIT
  trap 'exit 130' INT TERM HUP
  PG_DIR=$(mktemp -d /tmp/touchlane_pg.XXXXXX)
  [ "$(id -u)" -eq 0 ] && chown postgres "$PG_DIR"
  as_pg "$PG_BIN/initdb" -D "$PG_DIR/data" -U touchlane --auth=trust --no-locale -E UTF8 > "$PG_DIR/initdb.log" 2>&1 || {
    cat "$PG_DIR/initdb.log"; echo "initdb failed"; exit 1; }
  as_pg "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $PG_DIR -c timezone=UTC -c fsync=off" start > /dev/null || {
    cat "$PG_DIR/server.log"; echo "PostgreSQL did not start"; exit 1; }
  export TOUCHLANE_PG_HOST="$PG_DIR" TOUCHLANE_PG_USER=touchlane
  echo "PostgreSQL running in $PG_DIR"
}
