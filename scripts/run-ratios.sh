#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the benchmarks in Release (in build-bench/, with the stand-in service), runs
# every bench_* program with 15 repetitions in randomly interleaved order, and prints
# one line per ratio goal of scripts/ratios.py; then the rows of the drivers that are
# not Google Benchmarks (bench/drive_*: parallel batches, cancel latency, the request
# budget), and last "ratios: N met, M missed" over all of them. Exits non-zero when a
# goal is missed. Extra arguments go to every benchmark program (--benchmark_min_time=1, say).
# Not part of scripts/run-tests.sh: timings want a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-bench
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTQMOVIE_BUILD_BENCH=ON \
  -DTQMOVIE_BUILD_TESTS=OFF -DTQMOVIE_BUILD_TOOLS=ON -DTQMOVIE_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null

results="$build/results"
mkdir -p "$results"
rm -f "$results"/*.json
for exe in "$build"/bench/bench_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  name=$(basename "$exe")
  echo "== $name"
  "$exe" --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true \
    --benchmark_display_aggregates_only=true \
    --benchmark_out="$results/$name.json" --benchmark_out_format=json "$@"
done

echo "== ratios (median of the per-repetition ratios of real time, or CPU time where marked)"
rc=0
/usr/bin/python3 scripts/ratios.py "$results"/*.json | tee "$results/ratios.txt" || rc=1
for exe in "$build"/bench/drive_*; do
  [ -f "$exe" ] && [ -x "$exe" ] || continue
  echo "== $(basename "$exe")"
  "$exe" | tee -a "$results/ratios.txt" || rc=1
done
met=$(grep -cE '  met$' "$results/ratios.txt" || true)
missed=$(grep -cE '  missed$' "$results/ratios.txt" || true)
echo "ratios: $met met, $missed missed"
exit $rc
