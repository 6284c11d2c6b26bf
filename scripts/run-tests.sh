#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the library and runs the whole test suite twice through ctest: a normal
# build, then an AddressSanitizer + UndefinedBehaviorSanitizer build (LeakSanitizer
# included). Then a ThreadSanitizer build of the library and the thread tests, and the
# libFuzzer targets built with clang, each given a short, bounded run over its seed
# corpus; last, the Python package's tests against the normal build's library.
# Installs any missing Debian packages first.
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

echo "== Python package (bindings/python) over the normal build's library"
# A fresh virtual environment from Debian's Python, set up as the README says.
rm -rf build/py-venv bindings/python/build
/usr/bin/python3 -m venv --system-site-packages build/py-venv
PIP_DISABLE_PIP_VERSION_CHECK=1 build/py-venv/bin/pip install -q --no-build-isolation --no-index ./bindings/python
LD_LIBRARY_PATH="$PWD/build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  build/py-venv/bin/python -m pytest -q -p no:cacheprovider bindings/python/tests
