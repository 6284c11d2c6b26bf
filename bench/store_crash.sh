#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The store survives its writer being killed: against the synthetic stand-in, RUNS times
# (default 20) a 10,000-title detail scan (bench/store_scan, chunks of 24) into one
# store file is killed with SIGKILL at a random moment; after each kill the file must
# open, pass PRAGMA integrity_check, and hold every title of every chunk the scan
# reported done before it died. Each run scans its own ids (tt1000000 + 10000 * run + i),
# so what an earlier run left cannot stand in for what this one reported. Then ROUNDS
# times (default 3) two scans over overlapping ranges share a new store file: both
# must succeed, no key may be held twice, and every title of both ranges must be there.
# Prints a table; exits 1 on any failure.
#
#   bench/store_crash.sh [BUILD_DIR]      (default build-bench; SEED=n repeats a run)
#
# Run by hand. Builds store_scan and the stand-in in BUILD_DIR (Release); needs the
# sqlite3 command.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
runs=${RUNS:-20}
rounds=${ROUNDS:-3}
seed=${SEED:-$$}
RANDOM=$seed
titles=10000

command -v sqlite3 >/dev/null || { echo "store_crash: the sqlite3 command is needed" >&2; exit 2; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTQMOVIE_BUILD_BENCH=ON -DTQMOVIE_BUILD_TOOLS=ON \
  -DTQMOVIE_BUILD_TESTS=OFF -DTQMOVIE_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target store_scan tqmovie-mock-service >/dev/null
scan=$build/bench/store_scan

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tqmovie-store-crash.XXXXXX")
standin=
cleanup() {
  [ -n "$standin" ] && kill "$standin" 2>/dev/null && wait "$standin" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

"$build/tools/tqmovie-mock-service" --synthetic --port 0 >"$tmp/standin.out" 2>"$tmp/standin.err" &
standin=$!
for _ in $(seq 100); do
  grep -q '^listening on ' "$tmp/standin.out" && break
  sleep 0.05
done
url=$(sed -n 's/^listening on //p' "$tmp/standin.out")
[ -n "$url" ] || { echo "store_crash: the stand-in did not start:" >&2; cat "$tmp/standin.err" >&2; exit 2; }

id() { echo "tt$((1000000 + $1))"; }
# Distinct titles the store holds in the id range [first, first + count).
held() { sqlite3 -bail "$1" "SELECT count(DISTINCT title) FROM records WHERE title >= '$(id "$2")' AND title < '$(id $(($2 + $3)))'"; }
integrity() { sqlite3 -bail "$1" "PRAGMA integrity_check" 2>&1 | tr '\n' ' ' | sed 's/ $//'; }
# The ids done by the last chunk the scan reported (0 for none).
reported() { sed -n 's/^chunk \([0-9]*\)\/[0-9]*$/\1/p' "$1" | tail -n 1 | grep . || echo 0; }

# How long a whole scan takes here: the kills fall within it (and a little after).
start=$(date +%s%N)
"$scan" "$url" "$tmp/full.db" 0 $titles >"$tmp/full.out"
full_ms=$((($(date +%s%N) - start) / 1000000))
full_held=$(held "$tmp/full.db" 0 $titles)
failures=0
[ "$full_held" = $titles ] || { echo "store_crash: a whole scan left $full_held of $titles titles" >&2; failures=1; }
echo "stand-in $url; a whole scan of $titles titles: $full_ms ms, $full_held held; seed $seed"
echo

db=$tmp/crash.db
printf '%4s  %8s  %7s  %9s  %9s  %9s  %-9s  %s\n' run "kill ms" killed reported "in store" "of range" integrity verdict
for run in $(seq "$runs"); do
  first=$((titles * run))
  # Within the first three quarters of a whole scan: every kill lands while it runs.
  delay=$((20 + RANDOM % (full_ms * 3 / 4)))
  "$scan" "$url" "$db" $first $titles >"$tmp/run.out" 2>"$tmp/run.err" &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  killed=no
  kill -9 "$pid" 2>/dev/null && killed=yes
  rc=0
  wait "$pid" 2>/dev/null || rc=$?
  done_ids=$(reported "$tmp/run.out")
  ok=$(integrity "$db")
  in_store=$(held "$db" $first "$done_ids" 2>&1 || true)
  of_range=$(held "$db" $first $titles 2>&1 || true)
  verdict=ok
  if [ "$ok" != ok ] || [ "$in_store" != "$done_ids" ]; then verdict=FAILED; fi
  if [ $killed = no ] && { [ $rc != 0 ] || [ "$done_ids" != $titles ]; }; then verdict="FAILED (exit $rc)"; fi
  if [ -s "$tmp/run.err" ]; then verdict="FAILED: $(head -n 1 "$tmp/run.err")"; fi
  [ "$verdict" = ok ] || failures=$((failures + 1))
  printf '%4d  %8d  %7s  %9s  %9s  %9s  %-9s  %s\n' "$run" "$delay" $killed "$done_ids" "$in_store" "$of_range" \
    "$ok" "$verdict"
done

# Two writers at once, ranges overlapping by half, into a store neither has opened yet.
echo
printf '%5s  %6s  %6s  %10s  %9s  %-9s  %s\n' round "exit a" "exit b" "duplicates" "in store" integrity verdict
for round in $(seq "$rounds"); do
  shared=$tmp/shared-$round.db
  first=$((titles * (runs + 1) + 2 * titles * round))
  "$scan" "$url" "$shared" $first $titles >"$tmp/a.out" 2>"$tmp/a.err" &
  a=$!
  "$scan" "$url" "$shared" $((first + titles / 2)) $titles >"$tmp/b.out" 2>"$tmp/b.err" &
  b=$!
  rc_a=0 rc_b=0
  wait $a || rc_a=$?
  wait $b || rc_b=$?
  dups=$(sqlite3 -bail "$shared" "SELECT count(*) FROM (SELECT service, title, kind, language, count(*) FROM records
    GROUP BY 1, 2, 3, 4 HAVING count(*) > 1)" 2>&1 || true)
  in_store=$(held "$shared" $first $((titles * 3 / 2)) 2>&1 || true)
  ok=$(integrity "$shared")
  verdict=ok
  if [ $rc_a != 0 ] || [ $rc_b != 0 ] || [ "$dups" != 0 ] || [ "$in_store" != $((titles * 3 / 2)) ] ||
    [ "$ok" != ok ]; then
    verdict="FAILED: $(cat "$tmp/a.err" "$tmp/b.err" | head -n 1)"
  fi
  [ "$verdict" = ok ] || failures=$((failures + 1))
  printf '%5d  %6d  %6d  %10s  %9s  %-9s  %s\n' "$round" $rc_a $rc_b "$dups" "$in_store" "$ok" "$verdict"
done

echo
if [ $failures -gt 0 ]; then
  echo "store_crash: $failures failed"
  exit 1
fi
echo "store_crash: all $runs kills and $rounds shared runs held"
