#!/usr/bin/env bash
# The long kill test: ferrowane-convert killed (SIGKILL) at random moments of
# a long conversion (several tables, keys, long rows), 100 times by default.
# Each file left behind is judged first as it lies by the independent readers
# (mdb-schema, mdb-export, mdb-reader), before any program of ours opens it
# (our writer would apply the journal): each must hold exactly a committed
# prefix of every table. Then check, our reading, and the same conversion run
# again over it. The test command runs 10 kills.
#   scripts/kill-test.sh [rounds] [seed]
# Uses the server of FERROWANE_MYSQL_* when set, else starts a throwaway one.
# FERROWANE_BUILD_DIR names the build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-100}
build=${FERROWANE_BUILD_DIR:-build}
cmake --build "$build" --target engine_tests ferrowane-convert ferrowane-mdb -j 2 >/dev/null

if [ -z "${FERROWANE_MYSQL_HOST:-}" ]; then
  server_dir=$(mktemp -d /tmp/ferrowane-db.XXXXXX)
  trap 'bash scripts/mariadb.sh stop "$server_dir"' EXIT
  bash scripts/mariadb.sh start "$server_dir"
  source "$server_dir/env"
fi
export FERROWANE_REQUIRE_MYSQL=1 FERROWANE_KILL_ROUNDS=$rounds
[ -n "${2:-}" ] && export FERROWANE_KILL_SEED=$2
uptime
start=$(date +%s)
"$build/tests/engine_tests" --gtest_filter='KillConvert.*'
echo "kill-test.sh: $rounds kills in $(( $(date +%s) - start )) s"
