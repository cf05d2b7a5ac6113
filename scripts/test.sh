#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite against a throwaway MariaDB server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

server_dir=$(mktemp -d /tmp/ferrowane-db.XXXXXX)
trap 'bash scripts/mariadb.sh stop "$server_dir"' EXIT
bash scripts/mariadb.sh start "$server_dir"
source "$server_dir/env"
export FERROWANE_REQUIRE_MYSQL=1 QT_QPA_PLATFORM=offscreen

ctest --test-dir "${FERROWANE_BUILD_DIR:-build}" --output-on-failure -j 2 --timeout 900 "$@"

# The Jet engine on Windows: cross-built with MinGW-w64 and tested under Wine.
windows_started=$SECONDS
bash scripts/windows-build.sh
echo "test: the Windows part took $((SECONDS - windows_started)) s"

# The Debian package: built in its own Release build, unpacked and checked, lintian.
bash scripts/package-test.sh

# A short fuzz run of every fuzz target (clang, libFuzzer, sanitizers).
FUZZ_SECONDS=${FUZZ_SECONDS:-30} FUZZ_BUILD_DIR=${FERROWANE_FUZZ_BUILD_DIR:-build-fuzz} bash scripts/fuzz.sh
