#!/usr/bin/env bash
# Builds the Debian package ferrowane_<version>_<arch>.deb in this folder: a
# Release build of the three programs in build-package/ (or
# $FERROWANE_PACKAGE_BUILD_DIR) with Debian's hardening flags, the manual
# pages and icons, then cpack. Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${FERROWANE_PACKAGE_BUILD_DIR:-build-package}

# Debian's flags (hardening, reproducible paths); Release adds -O3 -DNDEBUG.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DFERROWANE_TESTS=OFF -DFERROWANE_BENCH=OFF -DFERROWANE_PACKAGE=ON \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "${FERROWANE_JOBS:-2}"

rm -f "$build"/ferrowane_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/ferrowane_*.deb)
cp "$deb" .
echo "package: $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB); install it with: apt install ./$(basename "$deb")"
echo "$PWD/$(basename "$deb")"
