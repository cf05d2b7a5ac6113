#!/usr/bin/env bash
# A throwaway MariaDB server in a folder of its own, on a free loopback port and its own socket.
#   scripts/mariadb.sh start DIR   starts it and writes DIR/env (source it for the FERROWANE_MYSQL_* variables)
#   scripts/mariadb.sh stop DIR    stops it and removes DIR
# The tests, the demo and the benchmarks share it.
set -euo pipefail
cmd=${1:?start|stop}
dir=${2:?folder}

find_bin() { for b in "$@"; do command -v "$b" >/dev/null && { command -v "$b"; return; }; done
             for b in "$@"; do [ -x "/usr/sbin/$b" ] && { echo "/usr/sbin/$b"; return; }; done; return 1; }

free_port() {
  local p
  for _ in $(seq 200); do
    p=$((20000 + RANDOM % 40000))
    (exec 3<>/dev/tcp/127.0.0.1/$p) 2>/dev/null || { echo "$p"; return; }
  done
  return 1
}

case "$cmd" in
start)
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  server=$(find_bin mariadbd mysqld)
  installer=$(find_bin mariadb-install-db mysql_install_db)
  client=$(find_bin mariadb mysql)
  port=$(free_port)
  sock="$dir/mysqld.sock"
  "$installer" --no-defaults --datadir="$dir/data" --user="$(id -un)" \
      --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 \
    || { cat "$dir/install.log" >&2; exit 1; }
  "$server" --no-defaults --datadir="$dir/data" --user="$(id -un)" --port="$port" \
      --bind-address=127.0.0.1 --socket="$sock" --pid-file="$dir/mysqld.pid" \
      --log-error="$dir/error.log" --skip-grant-tables=0 --innodb-buffer-pool-size=64M \
      --innodb-flush-log-at-trx-commit=2 --skip-log-bin --max-allowed-packet=256M \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci >/dev/null 2>&1 &
  for _ in $(seq 300); do
    [ -S "$sock" ] && "$client" --no-defaults -uroot --socket="$sock" -e 'select 1' >/dev/null 2>&1 && break
    sleep 0.2
  done
  "$client" --no-defaults -uroot --socket="$sock" -e 'select 1' >/dev/null 2>&1 \
    || { echo "mariadb.sh: the server did not start" >&2; cat "$dir/error.log" >&2; exit 1; }
  "$client" --no-defaults -uroot --socket="$sock" <<SQL
CREATE USER 'ferro'@'localhost' IDENTIFIED BY 'ferro-pw';
CREATE USER 'ferro'@'127.0.0.1' IDENTIFIED BY 'ferro-pw';
GRANT ALL ON *.* TO 'ferro'@'localhost';
GRANT ALL ON *.* TO 'ferro'@'127.0.0.1';
SQL
  cat >"$dir/env" <<ENV
export FERROWANE_MYSQL_HOST=127.0.0.1
export FERROWANE_MYSQL_PORT=$port
export FERROWANE_MYSQL_SOCKET=$sock
export FERROWANE_MYSQL_USER=ferro
export FERROWANE_MYSQL_PASSWORD=ferro-pw
export FERROWANE_MYSQL_CLIENT="$client --no-defaults -uroot --socket=$sock"
ENV
  echo "mariadb.sh: server on 127.0.0.1:$port, socket $sock"
  ;;
stop)
  [ -d "$dir" ] || exit 0
  if [ -f "$dir/mysqld.pid" ]; then
    pid=$(cat "$dir/mysqld.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 150); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
