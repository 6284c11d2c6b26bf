#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Line coverage of the fuzz corpora per source module (not part of the test command):
#   bash scripts/fuzz-coverage.sh [CORPUS_ROOT [BUILD_DIR]]     (build-fuzz/fuzz/corpus, build-fuzz-cov)
# Builds the library and the fuzz targets with clang's source coverage (no sanitizers)
# in BUILD_DIR, runs each target once over every input of CORPUS_ROOT/<target>, its
# seeds and fuzz/corpus/<target>, merges the profiles and prints llvm-cov's report for
# src/: the modules together, then the total of each target alone.
set -euo pipefail
cd "$(dirname "$0")/.."
corpora=${1:-build-fuzz/fuzz/corpus}
build=${2:-build-fuzz-cov}
tool() { command -v "$1" || command -v "$1-14" || { echo "$1 not found (Debian: llvm-14)" >&2; exit 1; }; }
profdata=$(tool llvm-profdata)
cov=$(tool llvm-cov)
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQMOVIE_BUILD_FUZZ=ON \
  -DTQMOVIE_FUZZ_COVERAGE=ON -DTQMOVIE_BUILD_TESTS=OFF -DTQMOVIE_BUILD_BENCH=OFF -DTQMOVIE_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j2
fz=$build/fuzz
lib=$(ls "$build"/libtolvane-kelvora-dorvik-movie-client.so.*.*)
targets=$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//' | grep -v '^fuzz_seeds$')
rm -rf "$build/profiles"
mkdir -p "$build/profiles"
objects=()
for t in $targets; do
  dirs=("$fz/seeds/$t")
  for d in "$corpora/$t" "fuzz/corpus/$t"; do [ -d "$d" ] && dirs+=("$d"); done
  LLVM_PROFILE_FILE="$build/profiles/$t-%p.profraw" "$fz/$t" -runs=0 -max_len=1048576 "${dirs[@]}" \
    >"$build/profiles/$t.log" 2>&1 || echo "warning: $t stopped early (see $build/profiles/$t.log)" >&2
  "$profdata" merge -sparse "$build/profiles/$t"-*.profraw -o "$build/profiles/$t.profdata"
  objects+=(-object "$fz/$t")
done
"$profdata" merge -sparse "$build"/profiles/*.profraw -o "$build/profiles/all.profdata"
ignore='(fuzz|tests|usr)/'
"$cov" report "$lib" "${objects[@]}" -instr-profile="$build/profiles/all.profdata" -ignore-filename-regex="$ignore"
echo
echo "each target alone (src/ total: regions, functions, lines):"
for t in $targets; do
  total=$("$cov" report "$lib" -object "$fz/$t" -instr-profile="$build/profiles/$t.profdata" \
    -ignore-filename-regex="$ignore" | grep '^TOTAL')
  printf '%-16s %s\n' "$t" "$(awk '{print $4, $7, $10}' <<<"$total")"
done
