#!/usr/bin/env bash
# Times a conversion through the wizard window against ferrowane-convert on a
# throwaway server.
#   scripts/bench-wizard.sh [rows]   (default 1000000; build dir: build/ or $FERROWANE_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FERROWANE_BUILD_DIR:-build}
bash scripts/build.sh --target ferrowane-convert bench_wizard_convert
server_dir=$(mktemp -d /tmp/ferrowane-bench-wizard.XXXXXX)
trap 'bash scripts/mariadb.sh stop "$server_dir"' EXIT
bash scripts/mariadb.sh start "$server_dir"
# shellcheck disable=SC1091
source "$server_dir/env"
QT_QPA_PLATFORM=offscreen "$build/bench/bench_wizard_convert" "${1:-1000000}" "$build/tools/ferrowane-convert"
