#!/usr/bin/env bash
# Installs, builds, starts a throwaway MariaDB server, loads the demo database
# (resources/demo/demo.sql), converts it with ferrowane-convert into an Access
# 2000 file, lists that file's tables with mdb-tables and its schema (AutoNumbers,
# required fields, defaults, descriptions, relationships) with ferrowane-mdb and
# mdb-schema. The server and its
# folder are removed at the end, also when a step fails; the file stays.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh --target ferrowane-convert ferrowane-mdb
build=${FERROWANE_BUILD_DIR:-build}

server_dir=$(mktemp -d /tmp/ferrowane-demo.XXXXXX)
trap 'bash scripts/mariadb.sh stop "$server_dir"' EXIT
bash scripts/mariadb.sh start "$server_dir"
source "$server_dir/env"

$FERROWANE_MYSQL_CLIENT <resources/demo/demo.sql
echo "demo: database ferrowane_demo loaded; its tables:"
MYSQL_PWD="$FERROWANE_MYSQL_PASSWORD" "$build/tools/ferrowane-convert" \
  --host "$FERROWANE_MYSQL_HOST" --port "$FERROWANE_MYSQL_PORT" --user "$FERROWANE_MYSQL_USER" \
  --database ferrowane_demo --list-tables

out=${FERROWANE_DEMO_OUTPUT:-/tmp/ferrowane_demo.mdb}
rm -f "$out"
echo "demo: converting ferrowane_demo into $out"
MYSQL_PWD="$FERROWANE_MYSQL_PASSWORD" "$build/tools/ferrowane-convert" \
  --host "$FERROWANE_MYSQL_HOST" --port "$FERROWANE_MYSQL_PORT" --user "$FERROWANE_MYSQL_USER" \
  --database ferrowane_demo --output "$out" --format 2000
echo "demo: the tables of $out, as mdb-tables lists them:"
mdb-tables -1 "$out"
echo "demo: its schema, as ferrowane-mdb tables --schema shows it:"
"$build/tools/ferrowane-mdb" tables --schema "$out"
echo "demo: its relationships, as mdb-schema prints them:"
mdb-schema --relations --no-indexes "$out" mysql | sed -n '/CREATE Relationships/,$p'
"$build/tools/ferrowane-mdb" check "$out"
