#!/usr/bin/env bash
# Builds the library and runs the whole test suite twice through ctest: a normal
# build, then an AddressSanitizer + UndefinedBehaviorSanitizer build (LeakSanitizer
# included). Then a ThreadSanitizer build of the library and the thread tests, and the
# libFuzzer targets built with clang, each given a short, bounded run over its seed
# corpus. Installs any missing Debian packages first.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== normal build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== sanitizer build (ASan + UBSan + LSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTQMOVIE_SANITIZE=ON -DTQMOVIE_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs")

echo "== thread sanitizer build (clients, cancellation, progress)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQMOVIE_TSAN=ON >/dev/null
cmake --build build-tsan -j"$jobs"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j"$jobs")

echo "== fuzz smoke runs (clang, libFuzzer + ASan + UBSan)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQMOVIE_BUILD_FUZZ=ON \
  -DTQMOVIE_BUILD_TESTS=OFF -DTQMOVIE_BUILD_BENCH=OFF -DTQMOVIE_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
(cd build-fuzz && ctest --output-on-failure -j"$jobs")
