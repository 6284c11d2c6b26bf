#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs every libFuzzer target for a long session, two at a time (not part of the test
# command):
#   bash scripts/fuzz-long.sh [SECONDS_PER_TARGET [BUILD_DIR]]     (600, build-fuzz)
# Each target runs in fork mode, so a finding is kept and the session goes on. New
# inputs go to BUILD_DIR/fuzz/corpus/<target>, findings to BUILD_DIR/fuzz/long/, the
# log of each target to BUILD_DIR/fuzz/long/<target>.log. Prints one line per target:
# executions, coverage (edges), features, corpus size and findings.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-600}
build=${2:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQMOVIE_BUILD_FUZZ=ON \
  -DTQMOVIE_BUILD_TESTS=OFF -DTQMOVIE_BUILD_BENCH=OFF -DTQMOVIE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j2
fz=$build/fuzz
mkdir -p "$fz/long"
targets=$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//' | grep -v '^fuzz_seeds$')

run() {
  local t=$1
  local dirs=("$fz/corpus/$t" "$fz/seeds/$t")
  mkdir -p "$fz/corpus/$t"
  [ -d "fuzz/corpus/$t" ] && dirs+=("fuzz/corpus/$t")
  "$fz/$t" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -max_total_time="$secs" \
    -max_len=65536 -timeout=25 -dict=fuzz/tqmovie.dict -artifact_prefix="$fz/long/$t-" "${dirs[@]}" \
    >"$fz/long/$t.log" 2>&1 || true
}
export -f run
export fz secs
printf '%s\n' $targets | xargs -P 2 -I{} bash -c 'run {}'

printf '%-16s %12s %7s %8s %7s %s\n' target executions cov features corpus findings
for t in $targets; do
  # The last status line of fork mode: "#N: cov: C ft: F corp: K exec/s: E oom/timeout/crash: a/b/c ..."
  line=$(grep -E '^#[0-9]+: cov:' "$fz/long/$t.log" | tail -1 || true)
  read -r execs cov ft corp <<<"$(sed -E 's/^#([0-9]+): cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+).*/\1 \2 \3 \4/' <<<"$line")"
  found=$(find "$fz/long" -maxdepth 1 -name "$t-*" ! -name '*.log' | wc -l)
  printf '%-16s %12s %7s %8s %7s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$found"
done
find "$fz/long" -maxdepth 1 -type f ! -name '*.log' | sort
