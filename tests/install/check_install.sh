#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The library as a host gets it.
#
#   check_install.sh shared  SOURCE_DIR BUILD_DIR WORK_DIR
#       installs BUILD_DIR into WORK_DIR/prefix (not the prefix it was configured
#       with), builds the examples through find_package and through pkg-config, runs
#       them (retry_after against a stand-in service on a free loopback port) and the
#       installed tools
#   check_install.sh static  SOURCE_DIR BUILD_DIR WORK_DIR
#       the same with a static library built in WORK_DIR/build (BUILD_SHARED_LIBS=OFF)
#   check_install.sh package SOURCE_DIR BUILD_DIR WORK_DIR
#       cpack -G DEB from BUILD_DIR, dpkg -x into WORK_DIR/root, checks the files and
#       the dependencies, builds and runs the examples against the unpacked tree
set -euo pipefail
mode=$1
src=$(cd "$2" && pwd)
build=$(cd "$3" && pwd)
work=$4
jobs=2
version=$(sed -n 's/^#define TQMOVIE_VERSION_STRING "\(.*\)"$/\1/p' "$src/include/tqmovie.h")

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== $*"; }

# expect_output WHAT TEXT COMMAND...: runs the command, which must succeed and print TEXT.
expect_output() {
  local what=$1 want=$2 out
  shift 2
  out=$("$@" 2>&1) || fail "$what exited $?: $out"
  grep -qF -- "$want" <<<"$out" || fail "$what: no '$want' in: $out"
}

# retry_after against a stand-in service on a free loopback port that refuses the
# first request with Retry-After: 1: one wait, then the title.
run_retry_example() {
  local exe=$1 service=$2 fixtures=$3 out=$work/service.out pid port got rc=0
  "$service" --port 0 --fixtures "$fixtures" --rate-limit-first 1 --retry-after 1 >"$out" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    grep -q '^listening on' "$out" && break
    sleep 0.05
  done
  port=$(sed -n 's|^listening on http://127.0.0.1:||p' "$out")
  [ -n "$port" ] || { kill "$pid"; fail "the stand-in did not start: $(cat "$out")"; }
  got=$("$exe" "http://127.0.0.1:$port" tt0111161 2>&1) || rc=$?
  kill "$pid"
  wait "$pid" || true
  [ "$rc" -eq 0 ] || fail "$exe exited $rc: $got"
  for want in "waiting 1000 ms after HTTP 429 (Retry-After: 1)" "The Shawshank Redemption (1994) after 2 attempts"; do
    grep -qF -- "$want" <<<"$got" || fail "$exe: no '$want' in: $got"
  done
}

# The examples of one build directory, against the fixtures of one installed tree,
# retry_after against the tree's stand-in service (else the build tree's).
run_examples() {
  local dir=$1 root=$2
  local fixtures=$root/share/tqmovie/fixtures service=$root/bin/tqmovie-mock-service
  expect_output "$dir/lookup" "The Shawshank Redemption (1994)" "$dir/lookup" "$fixtures"
  expect_output "$dir/lookup" "tqmovie $version" "$dir/lookup" "$fixtures"
  expect_output "$dir/memory_backend" "memory backend: ok" "$dir/memory_backend"
  expect_output "$dir/threads" "threads: ok" "$dir/threads" "$fixtures"
  [ -x "$service" ] || service=$build/tools/tqmovie-mock-service
  if [ -x "$service" ]; then
    run_retry_example "$dir/retry_after" "$service" "$fixtures"
  else
    echo "(no tqmovie-mock-service built: retry_after is built, not run)"
  fi
}

# Builds the examples both ways against the tree under root (a prefix) and runs them.
examples_both_ways() {
  local root=$1 kind=$2
  step "examples through find_package ($kind)"
  cmake -S "$src/examples" -B "$work/examples-cmake" -DCMAKE_PREFIX_PATH="$root" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/examples-cmake.log" || { cat "$work/examples-cmake.log"; fail "configure"; }
  cmake --build "$work/examples-cmake" -j"$jobs" >>"$work/examples-cmake.log" 2>&1 ||
    { cat "$work/examples-cmake.log"; fail "build through find_package"; }
  # The imported target brings the library's location: no LD_LIBRARY_PATH needed.
  run_examples "$work/examples-cmake" "$root"

  step "examples through pkg-config ($kind)"
  local pcdir
  pcdir=$(dirname "$(find "$root" -name tqmovie.pc | head -n1)")
  [ -f "$pcdir/tqmovie.pc" ] || fail "no tqmovie.pc under $root"
  local pc="env PKG_CONFIG_PATH=$pcdir pkg-config"
  [ "$($pc --modversion tqmovie)" = "$version" ] || fail "tqmovie.pc version"
  [ "$($pc --modversion tolvane-kelvora-dorvik-movie-client)" = "$version" ] || fail "long-named .pc version"
  # The prefix is wherever the tree lies, not where the build was configured to go.
  local libdir
  libdir=$($pc --variable=libdir tqmovie)
  [ "$(realpath "$libdir")" = "$(realpath "$pcdir/..")" ] || fail "libdir $libdir is not beside $pcdir"
  [ -f "$($pc --variable=includedir tqmovie)/tqmovie.h" ] || fail "includedir holds no tqmovie.h"
  mkdir -p "$work/examples-pc"
  PKG_CONFIG_PATH=$pcdir make -s -C "$work/examples-pc" -f "$src/examples/Makefile" >"$work/examples-pc.log" 2>&1 ||
    { cat "$work/examples-pc.log"; fail "build through pkg-config"; }
  LD_LIBRARY_PATH=$libdir run_examples "$work/examples-pc" "$root"
}

# find_package(tqmovie X) accepts 0.x from X on and nothing else.
check_version_file() {
  local file got
  file=$(find "$1" -name tqmovie-config-version.cmake | head -n1)
  [ -f "$file" ] || fail "no tqmovie-config-version.cmake"
  cat >"$work/ask-version.cmake" <<'EOF'
string(REPLACE "." ";" parts "${WANT}")
list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)
list(GET parts 1 PACKAGE_FIND_VERSION_MINOR)
set(PACKAGE_FIND_VERSION "${WANT}")
set(CMAKE_SIZEOF_VOID_P 8)
include("${FILE}")
message("${PACKAGE_VERSION_COMPATIBLE}")
EOF
  for want in 0.1:TRUE 0.2:TRUE "$version":TRUE 0.99:FALSE 1.0:FALSE; do
    got=$(cmake -DFILE="$file" -DWANT="${want%%:*}" -P "$work/ask-version.cmake" 2>&1)
    [ "$got" = "${want##*:}" ] || fail "find_package(tqmovie ${want%%:*}) compatible: $got"
  done
}

case $mode in
shared)
  step "install $build into $work/prefix"
  cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
  prefix=$work/prefix
  lib=$(find "$prefix" -name "libtolvane-kelvora-dorvik-movie-client.so.0" | head -n1)
  [ -n "$lib" ] || fail "no shared library installed"
  check_version_file "$prefix"
  examples_both_ways "$prefix" shared
  if [ -x "$prefix/bin/tqmovie" ]; then
    step "installed tools"
    # The installed tool finds its library and the fixtures relative to itself.
    expect_output "tqmovie --version" "tqmovie $version" env -u LD_LIBRARY_PATH "$prefix/bin/tqmovie" --version
    expect_output "tqmovie basic" "The Shawshank Redemption" env -u LD_LIBRARY_PATH "$prefix/bin/tqmovie" basic tt0111161
  fi
  ;;
static)
  step "static library in $work/build"
  cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_SHARED_LIBS=OFF \
    -DTQMOVIE_BUILD_TESTS=OFF -DTQMOVIE_BUILD_TOOLS=OFF -DTQMOVIE_BUILD_BENCH=OFF >"$work/build.log" ||
    { cat "$work/build.log"; fail "configure static"; }
  cmake --build "$work/build" -j"$jobs" >>"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build static"; }
  cmake --install "$work/build" --prefix "$work/prefix" >>"$work/build.log"
  prefix=$work/prefix
  [ -n "$(find "$prefix" -name 'libtolvane-kelvora-dorvik-movie-client.a')" ] || fail "no static library installed"
  [ -z "$(find "$prefix" -name 'libtolvane-kelvora-dorvik-movie-client.so*')" ] || fail "a shared library was installed"
  examples_both_ways "$prefix" static
  for exe in "$work/examples-cmake/lookup" "$work/examples-pc/lookup"; do
    if readelf -d "$exe" | grep -q 'NEEDED.*tolvane'; then fail "$exe needs the shared library"; fi
  done
  ;;
package)
  step "cpack -G DEB"
  (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack"; }
  deb=$(ls "$work"/out/*.deb)
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  for dep in libcurl4 libyyjson0 libc6 libstdc++6; do
    case ", $depends," in *", $dep "* | *", $dep,"*) ;; *) fail "Depends lacks $dep: $depends" ;; esac
  done
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | sort >"$work/files.txt"
  cat "$work/files.txt"
  dpkg -x "$deb" "$work/root"
  root=$work/root/usr
  [ "$(ls "$work/root")" = usr ] || fail "files outside /usr: $(ls "$work/root")"
  lib=$(find "$root" -name "libtolvane-kelvora-dorvik-movie-client.so.$version")
  [ -n "$lib" ] || fail "no library"
  libdir=${lib%/*}
  for f in "$libdir/libtolvane-kelvora-dorvik-movie-client.so.0" "$libdir/libtolvane-kelvora-dorvik-movie-client.so" \
    "$root/include/tqmovie.h" "$libdir/cmake/tqmovie/tqmovie-config.cmake" \
    "$libdir/cmake/tqmovie/tqmovie-config-version.cmake" "$libdir/cmake/tqmovie/tqmovie-targets.cmake" \
    "$libdir/pkgconfig/tqmovie.pc" "$libdir/pkgconfig/tolvane-kelvora-dorvik-movie-client.pc" \
    "$root/bin/tqmovie" "$root/bin/tqmovie-mock-service" \
    "$root/share/man/man1/tqmovie.1" "$root/share/man/man1/tqmovie-mock-service.1" \
    "$root/share/bash-completion/completions/tqmovie" \
    "$root/share/bash-completion/completions/tqmovie-mock-service" \
    "$root/share/tqmovie/fixtures/detail-tt0111161.json" \
    "$root/share/doc/tolvane-kelvora-dorvik-movie-client/LICENSE" \
    "$root/share/doc/tolvane-kelvora-dorvik-movie-client/CHANGELOG.md" \
    "$root/share/doc/tolvane-kelvora-dorvik-movie-client/backend.md"; do
    [ -e "$f" ] || fail "missing from the package: ${f#"$work/root"}"
  done
  [ "$(readlink "$libdir/libtolvane-kelvora-dorvik-movie-client.so.0")" = "libtolvane-kelvora-dorvik-movie-client.so.$version" ] ||
    fail "SONAME link"
  if command -v groff >/dev/null; then
    for page in tqmovie tqmovie-mock-service; do
      warnings=$(groff -man -Tutf8 -ww -z "$root/share/man/man1/$page.1" 2>&1)
      [ -z "$warnings" ] || fail "$page.1: $warnings"
    done
  fi
  for page in tqmovie tqmovie-mock-service; do
    grep -q "^\.TH .* \"tqmovie $version\"" "$root/share/man/man1/$page.1" || fail "$page.1 names another version"
  done
  # The completion offers the commands that start with what was typed.
  got=$(bash -c 'source "$1"; COMP_WORDS=(tqmovie --json de); COMP_CWORD=2; _tqmovie; echo "${COMPREPLY[*]}"' \
    _ "$root/share/bash-completion/completions/tqmovie") || fail "completion script"
  [ "$got" = "detail details" ] || fail "completion of 'de': $got"

  step "the unpacked tools and the examples against the unpacked tree"
  expect_output "tqmovie --version" "tqmovie $version" "$root/bin/tqmovie" --version
  expect_output "tqmovie detail" "Breaking Bad" "$root/bin/tqmovie" detail tt0903747 --sections cast
  check_version_file "$root"
  examples_both_ways "$root" package
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
echo "ok: $mode"
