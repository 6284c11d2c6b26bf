#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the library and runs the whole test suite twice through ctest: a normal
# build, whose test programs then run once more under valgrind's Memcheck, then an
# AddressSanitizer + UndefinedBehaviorSanitizer build (LeakSanitizer included). Then a
# ThreadSanitizer build of the library and the thread tests, and the
# libFuzzer targets built with clang, each given a short, bounded run over its seed
# corpus; then the Python package's tests against the normal build's library; last,
# the normal build's Debian packages installed with apt-get, used and purged.
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

echo "== valgrind over every test program of the normal build"
# Memcheck over each C and C++ test program (the programs they start are not followed):
# any error, or a block definitely or indirectly lost, fails the step. Only the C
# library's allocator is replaced (somalloc=nouserintercepts), so the tests' own malloc,
# the allocation-failure interposer, stays in front.
vg_out=build/valgrind
rm -rf "$vg_out" && mkdir -p "$vg_out"
vg_one() { # name, program, arguments
  local name=$1 start=$SECONDS rc=0
  shift
  (cd tests && timeout 1800 valgrind --soname-synonyms=somalloc=nouserintercepts --error-exitcode=1 \
    --leak-check=full --errors-for-leak-kinds=definite,indirect --child-silent-after-fork=yes \
    --log-file="../$vg_out/$name.log" "$@") >"$vg_out/$name.out" 2>&1 || rc=$?
  local lost
  lost=$(grep -hoE '(definitely|indirectly) lost: [0-9,]+ bytes' "$vg_out/$name.log" | tr '\n' ' ') || true
  printf '%-22s rc=%s %5ss  %s, %s\n' "$name" "$rc" $((SECONDS - start)) \
    "$(grep -hoE '[0-9,]+ errors' "$vg_out/$name.log" | head -1)" "${lost:-no leaks}" >>"$vg_out/summary"
}
for exe in build/tests/test_alloc_sweep build/tests/test_threads build/tests/test_* build/tools/tests/test_*; do
  [[ -f $exe && -x $exe && ! -e $vg_out/$(basename "$exe").out ]] || continue
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  : >"$vg_out/$(basename "$exe").out"
  vg_one "$(basename "$exe")" "$PWD/$exe" &
done
wait
sort "$vg_out/summary"
if grep -v ' rc=0 ' "$vg_out/summary" >/dev/null ||
  [[ $(wc -l <"$vg_out/summary") -ne $(find "$vg_out" -name '*.out' | wc -l) ]]; then
  grep -h '^\[  FAILED  \] .*\.' "$vg_out"/*.out >&2 || true
  echo "under valgrind: a test failed, or a memory error or leak was found (see $vg_out/)" >&2
  exit 1
fi

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

echo "== Debian packages of the normal build, installed with apt-get, used, purged"
# Last and alone: it installs into the system's /usr (as root; skipped otherwise) and
# purges whatever it installed on every way out (tests/install/package_test.sh).
bash tests/install/package_test.sh build
