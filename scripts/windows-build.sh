#!/usr/bin/env bash
# The Jet engine on Windows. Cross-builds jet/, ferrowane-mdb.exe and the
# engine's tests for 64-bit Windows with Debian's MinGW-w64 compiler,
# statically linked (no DLL beside the .exe), into build-windows/ (or
# $FERROWANE_WINDOWS_BUILD_DIR), then tests them under Wine:
#   - the engine's tests (tests/jet, less those that need Linux; tests/CMakeLists.txt names them);
#   - ferrowane-mdb.exe in both formats: create, exec (a table with keys), import of a few thousand
#     rows with text in several scripts, dump and check, in a folder named "Données 中文"; the files
#     are then read on Linux by mdbtools and mdb-reader, which must give back the same values;
#   - two writers on one file: the second is refused, and a reader too, while the first writes.
# Run as root on Debian 12 (it installs what it needs):
#   bash scripts/windows-build.sh               build and test
#   bash scripts/windows-build.sh --build-only  build only
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FERROWANE_WINDOWS_BUILD_DIR:-build-windows}
mode=${1:-test}
started=$SECONDS

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix googletest)
[ "$mode" = --build-only ] || packages+=(wine wine64 mdbtools nodejs npm)
source scripts/install-packages.sh
install_missing windows-build "${packages[@]}"

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-Release} -DFERROWANE_GUI=OFF -DFERROWANE_BENCH=OFF \
  -DCMAKE_CROSSCOMPILING_EMULATOR=wine >/dev/null
targets=(ferrowane-mdb)
[ "$mode" = --build-only ] || targets+=(jet_tests)
cmake --build "$build" -j "${FERROWANE_JOBS:-2}" --target "${targets[@]}"
exe=$build/tools/ferrowane-mdb.exe
echo "windows-build: built $exe in $((SECONDS - started)) s"
[ "$mode" = --build-only ] && exit 0

if [ ! -d tests/node/node_modules/mdb-reader ]; then
  (cd tests/node && npm ci --no-audit --no-fund --loglevel=error)
fi

# Wine's own folder inside the build; its first start sets it up (slow, once).
export WINEPREFIX=$PWD/$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
step=$SECONDS
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
  echo "windows-build: Wine set up in $((SECONDS - step)) s"
fi
# One server for every run below, stopped at the end.
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT

step=$SECONDS
wine "$build/tests/jet_tests.exe" --gtest_brief=1
echo "windows-build: the engine's tests passed under Wine in $((SECONDS - step)) s"

step=$SECONDS
scratch=$(mktemp -d /tmp/ferrowane-windows.XXXXXX)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
folder="$scratch/Données 中文"
mkdir "$folder"
mdb() { wine "$exe" "$@"; }
winpath() { wine winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# Rows with text in several scripts (Jet 3 stores text in code page 1252:
# Western European words only), a memo with an escaped tab and line break.
rows_tsv() {
  local format=$1
  awk -v format="$format" 'BEGIN {
    n = split("Zürich|Hôtel|Straße|Ærø|Niño|Café crème|Œuvre|€ 5", words, "|")
    if (format == 2000) {
      m = split("Αθήνα|Москва|東京都|서울|القاهرة|תל אביב|नई दिल्ली|กรุงเทพ|中文 數據", more, "|")
      for (i = 1; i <= m; ++i) words[n + i] = more[i]
      n += m
    }
    for (i = 1; i <= 3000; ++i) {
      w = words[(i % n) + 1]
      memo = (i % 7 == 0) ? "\\N" : w " " i "\\t" words[((i * 3) % n) + 1] "\\n" w
      printf "%d\t%s %d\t%s\t%d\t%04d-%02d-%02d %02d:%02d:%02d\n", i, w, i, memo, (i * 7919) % 100003 - 50000,
             1990 + i % 40, 1 + i % 12, 1 + i % 28, i % 24, i % 60, (i * 7) % 60
    }
  }'
}

for format in 97 2000; do
  table="Städte"
  [ "$format" = 2000 ] && table="Städte 中文"
  file="$folder/Orte $format.mdb"
  win=$(winpath "$file")
  rows_tsv "$format" > "$scratch/rows-$format.tsv"
  mdb create "$win" --format "$format"
  mdb exec "$win" "create table [$table] ([id] long not null, [name] text(100), [words] memo, [n] long, [made] datetime)"
  mdb exec "$win" "alter table [$table] add constraint [PrimaryKey] primary key ([id])"
  mdb exec "$win" "create index [by name] on [$table] ([name])"
  mdb import "$win" "$table" "$(winpath "$scratch/rows-$format.tsv")"
  mdb dump "$win" "$table" > "$scratch/dump-$format.tsv"
  cmp "$scratch/rows-$format.tsv" "$scratch/dump-$format.tsv"
  mdb check "$win"
  node tests/node/same_as_tsv.mjs "$file" "$table" "$scratch/rows-$format.tsv"
done
echo "windows-build: ferrowane-mdb.exe round trip in both formats in $((SECONDS - step)) s"

# Two writers: while one imports (waiting on its standard input), a second
# writer and a reader are refused, as on Linux; the first then finishes.
step=$SECONDS
file="$folder/Orte 2000.mdb"
win=$(winpath "$file")
mkfifo "$scratch/input"
exec 3<>"$scratch/input"
mdb import "$win" "Städte 中文" < "$scratch/input" > "$scratch/first.out" 2>&1 3>&- &
first=$!
# The second writer starts only once the first holds the file (its journal
# is there): started sooner, it could take the file itself and turn the
# first away.
for _ in $(seq 600); do
  [ -e "$file-journal" ] && break
  kill -0 "$first" 2>/dev/null || break
  sleep 0.1
done
[ -e "$file-journal" ] && kill -0 "$first" 2>/dev/null ||
  { echo "windows-build: the first writer did not take the file" >&2; cat "$scratch/first.out" >&2; exit 1; }
refused=0
for _ in $(seq 60); do
  if ! mdb exec "$win" "select * from [Städte 中文]" 2> "$scratch/second.err" >/dev/null &&
     grep -q "is in use by another program" "$scratch/second.err"; then
    refused=1
    break
  fi
  sleep 1
done
[ "$refused" = 1 ] || { echo "windows-build: a second writer was not refused" >&2; cat "$scratch/second.err" >&2; exit 1; }
if mdb dump "$win" "Städte 中文" > /dev/null 2> "$scratch/reader.err" ||
   ! grep -q "is in use by another program" "$scratch/reader.err"; then
  echo "windows-build: a reader was let in beside a writer" >&2
  exit 1
fi
printf '3001\tlast\t\\N\t1\t2000-01-01 00:00:00\n' >&3
exec 3>&-
wait "$first" || { cat "$scratch/first.out" >&2; exit 1; }
[ "$(mdb dump "$win" "Städte 中文" | wc -l)" = 3001 ]
mdb check "$win"
echo "windows-build: a second writer is refused under Wine ($((SECONDS - step)) s)"
echo "windows-build: done in $((SECONDS - started)) s"
