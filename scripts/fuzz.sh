#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and sanitizers, replays the kept
# crash inputs, then fuzzes each target for FUZZ_SECONDS (default 60).
# Fails when a target crashes, hangs, leaks or trips a sanitizer; the input
# is left in $FUZZ_BUILD_DIR/artifacts/<target>/ (keep it under
# fuzz/regressions/<target>/). A long run: FUZZ_SECONDS=3600 bash scripts/fuzz.sh
# Optional: FUZZ_TARGETS="mdb_read statement" to pick targets.
set -uo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
# The same variable the tests read the Access-made files from.
fixtures=${FERROWANE_FIXTURES_DIR:-$src/../shared/fixtures}
# Scratch database files of the targets: memory is faster than disk syncs.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

if [ ! -f "$build/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFERROWANE_FUZZ=ON -DBUILD_TESTING=OFF -DFERROWANE_BENCH=OFF >/dev/null || exit 1
fi

targets=${FUZZ_TARGETS:-"mdb_read mdb_write statement rtf_text job_file"}
available=()
# Read the whole list first: grep -q would end the pipe early and, under
# pipefail, a target that exists would read as missing.
known=$(ninja -C "$build" -t targets all 2>/dev/null)
for t in $targets; do
  if grep -q -E "^(fuzz/)?fuzz_$t:" <<<"$known"; then
    available+=("$t")
  else
    echo "fuzz: no target fuzz_$t in this build, skipped"
  fi
done
[ ${#available[@]} -gt 0 ] || { echo "fuzz: nothing to build"; exit 1; }
cmake --build "$build" -j "${FUZZ_BUILD_JOBS:-2}" --target $(printf 'fuzz_%s ' "${available[@]}") || exit 1

failed=()
for t in "${available[@]}"; do
  exe="$build/fuzz/fuzz_$t"
  corpus="$build/corpus/$t"
  artifacts="$build/artifacts/$t"
  mkdir -p "$corpus" "$artifacts"
  cp -n fuzz/seeds/$t/* "$corpus/" 2>/dev/null
  # Writes start from the files the reader starts from.
  [ "$t" = mdb_write ] && cp -n fuzz/seeds/mdb_read/* "$corpus/" 2>/dev/null
  if { [ "$t" = mdb_read ] || [ "$t" = mdb_write ]; } && [ -d "$fixtures" ]; then
    for f in "$fixtures"/jet3/*.mdb "$fixtures"/jet4/*.mdb; do
      [ -f "$f" ] && cp -n "$f" "$corpus/fixture-$(basename "$f")"
    done
  fi
  opts=(-rss_limit_mb=2048 -timeout=10 -artifact_prefix="$artifacts/")

  # Every kept input must pass first.
  if compgen -G "fuzz/regressions/$t/*" >/dev/null; then
    if ! "$exe" "${opts[@]}" fuzz/regressions/$t/* >"$build/replay-$t.log" 2>&1; then
      echo "fuzz: $t: a kept regression input fails again, see $build/replay-$t.log"
      failed+=("$t")
      continue
    fi
  fi

  log="$build/fuzz-$t.log"
  "$exe" "${opts[@]}" -max_total_time="$seconds" -print_final_stats=1 "$corpus" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  if [ $rc -ne 0 ]; then
    echo "fuzz: $t FAILED after ${runs:-?} executions (exit $rc); log $log, input in $artifacts/"
    grep -m3 -E 'ERROR: |SUMMARY: |runtime error' "$log" | sed 's/^/  /'
    failed+=("$t")
  else
    echo "fuzz: $t ok: ${runs:-?} executions in ${seconds}s"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failing targets: ${failed[*]}"
  exit 1
fi
