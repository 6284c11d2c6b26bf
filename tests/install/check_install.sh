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
#       cpack -G DEB from BUILD_DIR (one package per install component), checks each
#       package's files, dependencies, maintainer and copyright file, dpkg -x them all
#       into WORK_DIR/root and builds and runs the examples against the unpacked tree
#       (installing them for real is tests/install/package_test.sh)
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
  : >"$out"
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
# The pkg-config build links with the run path the .pc offers (rpath_flag), as the
# README tells a host of a prefix outside the loader's path to do: no LD_LIBRARY_PATH.
# pc_prefix, when set, is the prefix to give pkg-config (a tree that was moved).
examples_both_ways() {
  local root=$1 kind=$2 pc_prefix=${3:-}
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
  local pkgconfig="pkg-config${pc_prefix:+ --define-variable=prefix=$pc_prefix}"
  local pc="env PKG_CONFIG_PATH=$pcdir $pkgconfig"
  [ "$($pc --modversion tqmovie)" = "$version" ] || fail "tqmovie.pc version"
  [ "$($pc --modversion tolvane-kelvora-dorvik-movie-client)" = "$version" ] || fail "long-named .pc version"
  # The prefix is the one the tree was installed under (or given), with no `..`.
  local libdir includedir
  libdir=$($pc --variable=libdir tqmovie)
  includedir=$($pc --variable=includedir tqmovie)
  [ "$(realpath "$libdir")" = "$(realpath "$pcdir/..")" ] || fail "libdir $libdir is not beside $pcdir"
  [ -f "$includedir/tqmovie.h" ] || fail "includedir holds no tqmovie.h"
  case "$libdir/ $includedir/" in *../*) fail "a .. in libdir $libdir or includedir $includedir" ;; esac
  [ "$($pc --variable=rpath_flag tqmovie)" = "-Wl,-rpath,$libdir" ] || fail "rpath_flag: $($pc --variable=rpath_flag tqmovie)"
  mkdir -p "$work/examples-pc"
  PKG_CONFIG_PATH=$pcdir make -s -C "$work/examples-pc" -f "$src/examples/Makefile" PKG_CONFIG="$pkgconfig" \
    LDFLAGS="$($pc --variable=rpath_flag tqmovie)" >"$work/examples-pc.log" 2>&1 ||
    { cat "$work/examples-pc.log"; fail "build through pkg-config"; }
  (
    unset LD_LIBRARY_PATH
    run_examples "$work/examples-pc" "$root"
  )
}

# What the README says of a program linked against a prefix outside the loader's path
# with no run path: it does not start. Shown only when no other copy of the library
# is where the loader looks.
check_no_rpath_fails() {
  local pc="env PKG_CONFIG_PATH=$1 pkg-config" out rc=0
  if ldconfig -p | grep -q 'libtolvane-kelvora-dorvik-movie-client\.so\.0 '; then
    echo "(the loader finds an installed library: the start without a run path is not shown)"
    return
  fi
  # shellcheck disable=SC2046
  cc -std=c99 -o "$work/lookup-no-rpath" "$src/examples/lookup.c" $($pc --cflags --libs tqmovie) ||
    fail "lookup without a run path: build"
  out=$(env -u LD_LIBRARY_PATH "$work/lookup-no-rpath" "$src/fixtures" 2>&1) || rc=$?
  [ "$rc" -eq 127 ] && grep -qF "libtolvane-kelvora-dorvik-movie-client.so.0: cannot open shared object file" <<<"$out" ||
    fail "lookup linked without a run path: rc $rc: $out"
  echo "without a run path: $out"
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
  # Every component but the Debian-only files: no copyright files, no Python module.
  [ -e "$prefix/share/tqmovie/fixtures/detail-tt0111161.json" ] || fail "no fixtures installed"
  [ -e "$prefix/share/doc/tolvane-kelvora-dorvik-movie-client/examples/lookup.c" ] || fail "no examples installed"
  [ -z "$(find "$prefix" -name copyright -o -name 'python3*' -o -name '*.dist-info')" ] ||
    fail "cmake --install installed packaging files: $(find "$prefix" -name copyright -o -name 'python3*' -o -name '*.dist-info')"
  # tqmovie.pc names the prefix it was installed under, in full.
  pcfile=$(find "$prefix" -name tqmovie.pc)
  grep -qx "prefix=$prefix" "$pcfile" || fail "tqmovie.pc: $(grep '^prefix=' "$pcfile"), not $prefix"
  ! grep -v '^#' "$pcfile" | grep -qE '(^|[/=])\.\.(/|$)' || fail "tqmovie.pc holds a ..: $(cat "$pcfile")"
  examples_both_ways "$prefix" shared
  check_no_rpath_fails "${pcfile%/*}"
  step "the tree moved: pkg-config --define-variable=prefix"
  cp -a "$prefix" "$work/moved"
  rm -rf "$work/examples-cmake" "$work/examples-pc"
  examples_both_ways "$work/moved" moved "$work/moved"
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
  # A library-only build looks up none of the test, benchmark or stand-in packages.
  looked=$(grep -Ei '^[a-z0-9_.-]*(gtest|gmock|benchmark|httplib)[a-z0-9_.-]*:' "$work/build/CMakeCache.txt") &&
    fail "the library-only configuration looked up a test, benchmark or stand-in package: $looked"
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
  # Every install rule names its component, so every installed file is in a package.
  unnamed=$(find "$build" -name cmake_install.cmake -not -path "$work/*" -not -path "*/tests/install/work/*" \
    -exec grep -l 'Unspecified' {} +) && fail "install rules without a COMPONENT in: $unnamed"
  # A build configured without a maintainer (a machine with no git identity) is named
# as a test build: these packages never leave the test.
if grep -q '^set(CPACK_PACKAGE_CONTACT "")' "$build/CPackConfig.cmake"; then
  export DEBFULLNAME="tqmovie package test" DEBEMAIL="package-test@localhost"
fi
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; fail "cpack"; }
  rt=libtolvane-kelvora-dorvik-movie-client0
  dev=libtolvane-kelvora-dorvik-movie-client-dev
  py=python3-tqmovie
  packages="$rt $dev tqmovie $py"
  [ -x "$build/tools/tqmovie-mock-service" ] && packages="$packages tqmovie-mock-service"
  got=$(cd "$work/out" && ls -- *.deb | sed 's/_.*//' | sort | xargs)
  [ "$got" = "$(xargs -n1 <<<"$packages" | sort | xargs)" ] || fail "packages: $got, not $packages"

  # The maintainer configure wrote: the cache variable, else the source tree's git
  # identity (as cmake/package.cmake derives it); never the old made-up address.
  contact=$(sed -n 's/^TQMOVIE_PACKAGE_CONTACT:STRING=//p' "$build/CMakeCache.txt")
  if [ -z "$contact" ] && git -C "$src" rev-parse --git-dir >/dev/null 2>&1 &&
    [ -n "$(git -C "$src" config user.name)" ] && [ -n "$(git -C "$src" config user.email)" ]; then
    contact="$(git -C "$src" config user.name) <$(git -C "$src" config user.email)>"
  fi
  [ -n "${DEBEMAIL:-}" ] && [ -z "$contact" ] && contact="$DEBFULLNAME <$DEBEMAIL>"
  # The licence text of LICENSE (after its copyright line), which every copyright
  # file must carry.
  holder=$(sed -n 's/^Copyright (c) //p' "$src/LICENSE")
  sed '1,/^Copyright (c)/d' "$src/LICENSE" | sed '/./,$!d' >"$work/license.txt"

  deb_of() { echo "$work/out/$1_${version}_"*.deb; }
  for pkg in $packages; do
    deb=$(deb_of "$pkg")
    [ -f "$deb" ] || fail "no $pkg package"
    [ "$(dpkg-deb -f "$deb" Package)" = "$pkg" ] || fail "$deb: Package $(dpkg-deb -f "$deb" Package)"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$pkg: version $(dpkg-deb -f "$deb" Version)"
    maintainer=$(dpkg-deb -f "$deb" Maintainer)
    [[ $maintainer =~ ^[^\<\>@]+\ \<[^\<\>@\ ]+@[^\<\>@\ ]+\>$ ]] || fail "$pkg: maintainer '$maintainer'"
    [[ $maintainer != "tolvane-kelvora-dorvik-movie-client maintainers <"* ]] || fail "$pkg: the placeholder maintainer"
    [ -z "$contact" ] || [ "$maintainer" = "$contact" ] || fail "$pkg: maintainer '$maintainer', configured '$contact'"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort >"$work/$pkg.files"
    bad=$(grep -v '^/usr/' "$work/$pkg.files") && fail "$pkg: files outside /usr: $bad"
    # httplib is the stand-in's alone.
    if [ "$pkg" != tqmovie-mock-service ] && dpkg-deb -f "$deb" Depends | grep -q httplib; then
      fail "$pkg depends on cpp-httplib: $(dpkg-deb -f "$deb" Depends)"
    fi
    # The machine-readable copyright file (DEP-5), with the licence of LICENSE.
    mkdir -p "$work/unpacked/$pkg"
    dpkg -x "$deb" "$work/unpacked/$pkg"
    copyright=$work/unpacked/$pkg/usr/share/doc/$pkg/copyright
    [ -f "$copyright" ] || fail "$pkg: no /usr/share/doc/$pkg/copyright"
    [ "$(head -n1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
      fail "$pkg: copyright is not DEP-5: $(head -n1 "$copyright")"
    for field in "Upstream-Name: tolvane-kelvora-dorvik-movie-client" "Files: *" "Copyright: $holder" "License: Expat"; do
      grep -qxF -- "$field" "$copyright" || fail "$pkg: copyright lacks '$field'"
    done
    awk '/^License: Expat$/ && seen++ {body=1; next} body && /^ / {print}' "$copyright" |
      sed 's/^ //; s/^\.$//' >"$work/$pkg.license"
    cmp -s "$work/license.txt" "$work/$pkg.license" || fail "$pkg: the copyright file's licence is not LICENSE's"
    echo "$pkg: Depends: $(dpkg-deb -f "$deb" Depends)"
  done
  # dpkg installs no file that another package holds.
  dup=$(cat "$work"/*.files | sort | uniq -d)
  [ -z "$dup" ] || fail "in two packages: $dup"

  # has_dep PACKAGE DEPENDENCY...: each is among the package's dependencies (the
  # version constraint, if given, too).
  has_dep() {
    local pkg=$1 depends dep
    depends=", $(dpkg-deb -f "$(deb_of "$pkg")" Depends),"
    shift
    for dep in "$@"; do
      case $depends in *", $dep "* | *", $dep,"*) ;; *) fail "$pkg: Depends lacks $dep: $depends" ;; esac
    done
  }
  has_dep "$rt" libcurl4 libyyjson0 libsqlite3-0 libc6 libstdc++6
  has_dep "$dev" "$rt (= $version)"
  has_dep tqmovie "$rt (= $version)"
  has_dep "$py" python3 "$rt (>= $version)"
  [ "$(dpkg-deb -f "$(deb_of "$py")" Architecture)" = all ] || fail "$py is not Architecture: all"
  if [[ $packages == *tqmovie-mock-service* ]]; then
    dpkg-deb -f "$(deb_of tqmovie-mock-service)" Depends | grep -q 'libcpp-httplib' ||
      fail "tqmovie-mock-service does not depend on cpp-httplib"
    ! dpkg-deb -f "$(deb_of tqmovie-mock-service)" Depends | grep -q "$rt" ||
      fail "tqmovie-mock-service depends on the library, which it does not link"
  fi
  # The runtime: the library and its SONAME link, a shlibs file, the ldconfig trigger.
  dpkg-deb -e "$(deb_of "$rt")" "$work/control-rt"
  [ "$(cat "$work/control-rt/shlibs")" = "libtolvane-kelvora-dorvik-movie-client 0 $rt (>= $version)" ] ||
    fail "shlibs: $(cat "$work/control-rt/shlibs")"
  grep -qx 'activate-noawait ldconfig' "$work/control-rt/triggers" || fail "no ldconfig trigger"
  [ "$(sed 's|.*/||' "$work/$rt.files" | xargs)" = \
    "libtolvane-kelvora-dorvik-movie-client.so.0 libtolvane-kelvora-dorvik-movie-client.so.$version copyright" ] ||
    fail "$rt holds: $(xargs <"$work/$rt.files")"
  dpkg-deb -e "$(deb_of "$py")" "$work/control-py"
  [ -x "$work/control-py/postinst" ] && [ -x "$work/control-py/prerm" ] || fail "$py: no postinst/prerm"
  # Which package holds what.
  holds() { # PACKAGE PATH-REGEX...
    local pkg=$1 re
    shift
    for re in "$@"; do grep -qE "^/usr/$re\$" "$work/$pkg.files" || fail "$pkg lacks /usr/$re"; done
  }
  lib_re='lib(/[a-z0-9_-]+-linux-gnu[a-z]*)?'
  holds "$dev" include/tqmovie.h "$lib_re/libtolvane-kelvora-dorvik-movie-client\\.so" \
    "$lib_re/cmake/tqmovie/tqmovie-(config|config-version|targets)\\.cmake" \
    "$lib_re/pkgconfig/(tqmovie|tolvane-kelvora-dorvik-movie-client)\\.pc" \
    "share/doc/tolvane-kelvora-dorvik-movie-client/(LICENSE|CHANGELOG\\.md|README\\.md|backend\\.md)" \
    "share/doc/tolvane-kelvora-dorvik-movie-client/examples/lookup\\.c"
  holds tqmovie bin/tqmovie share/man/man1/tqmovie\\.1 share/bash-completion/completions/tqmovie \
    share/tqmovie/fixtures/detail-tt0111161\\.json
  for f in "$src"/bindings/python/src/tqmovie/*.py; do
    holds "$py" "lib/python3/dist-packages/tqmovie/${f##*/}"
  done
  holds "$py" "lib/python3/dist-packages/tqmovie-$version\\.dist-info/METADATA"
  if [[ $packages == *tqmovie-mock-service* ]]; then
    holds tqmovie-mock-service bin/tqmovie-mock-service share/man/man1/tqmovie-mock-service\\.1 \
      share/bash-completion/completions/tqmovie-mock-service
  fi

  step "all packages unpacked into one tree"
  for pkg in $packages; do dpkg -x "$(deb_of "$pkg")" "$work/root"; done
  root=$work/root/usr
  lib=$(find "$root" -name "libtolvane-kelvora-dorvik-movie-client.so.$version")
  libdir=${lib%/*}
  [ "$(readlink "$libdir/libtolvane-kelvora-dorvik-movie-client.so.0")" = "libtolvane-kelvora-dorvik-movie-client.so.$version" ] ||
    fail "SONAME link"
  # A packaged tqmovie.pc names /usr; the unpacked tree is reached by redefining prefix.
  grep -qx 'prefix=/usr' "$libdir/pkgconfig/tqmovie.pc" || fail "tqmovie.pc: $(grep '^prefix=' "$libdir/pkgconfig/tqmovie.pc")"
  if command -v groff >/dev/null; then
    for page in tqmovie tqmovie-mock-service; do
      [ -f "$root/share/man/man1/$page.1" ] || continue
      warnings=$(groff -man -Tutf8 -ww -z "$root/share/man/man1/$page.1" 2>&1)
      [ -z "$warnings" ] || fail "$page.1: $warnings"
    done
  fi
  for page in tqmovie tqmovie-mock-service; do
    [ -f "$root/share/man/man1/$page.1" ] || continue
    grep -q "^\.TH .* \"tqmovie $version\"" "$root/share/man/man1/$page.1" || fail "$page.1 names another version"
  done
  # The completion offers the commands that start with what was typed.
  got=$(bash -c 'source "$1"; COMP_WORDS=(tqmovie --json de); COMP_CWORD=2; _tqmovie; echo "${COMPREPLY[*]}"' \
    _ "$root/share/bash-completion/completions/tqmovie") || fail "completion script"
  [ "$got" = "detail details" ] || fail "completion of 'de': $got"

  step "the unpacked tools, the Python module and the examples against the unpacked tree"
  expect_output "tqmovie --version" "tqmovie $version" "$root/bin/tqmovie" --version
  expect_output "tqmovie detail" "Breaking Bad" "$root/bin/tqmovie" detail tt0903747 --sections cast
  expect_output "python3 -c 'import tqmovie'" "$version Tim Robbins" \
    env TQMOVIE_LIBRARY="$lib" python3 -I -c '
import sys
sys.path.insert(0, "'"$root/lib/python3/dist-packages"'")
import tqmovie
assert tqmovie.__file__.startswith("'"$root"'"), tqmovie.__file__
with tqmovie.Client(tqmovie.Fixtures("'"$root/share/tqmovie/fixtures"'")) as c:
    print(tqmovie.library_version(), c.detail("tt0111161").cast[0].name)'
  check_version_file "$root"
  examples_both_ways "$root" package "$root"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
echo "ok: $mode"
