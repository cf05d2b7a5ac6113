#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the package need on a Debian 12 machine (run as root).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev qtkeychain-qt6-dev
  libmariadb-dev mariadb-server mariadb-client
  libgtest-dev libbenchmark-dev
  mdbtools nodejs npm strace
  xvfb xauth fonts-noto-cjk
  clang libclang-rt-14-dev
  dpkg-dev pandoc librsvg2-bin lintian desktop-file-utils man-db bsdextrautils bash-completion
)

source scripts/install-packages.sh
install_missing setup "${packages[@]}"

# The independent reader used by the tests (npm package mdb-reader).
if [ -f tests/node/package.json ] && [ ! -d tests/node/node_modules/mdb-reader ]; then
  (cd tests/node && npm ci --no-audit --no-fund --loglevel=error)
fi
