#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian packages installed for real, as root, the last step of
# scripts/run-tests.sh:
#
#   bash tests/install/package_test.sh [BUILD_DIR]      (default: build)
#
# builds the packages of BUILD_DIR with cpack, installs the runtime and -dev packages
# with apt-get, builds examples/lookup.c against them through pkg-config and through
# find_package and runs it on the fixtures; then installs the tool, the stand-in and
# the Python module and runs each. Every package is purged on every way out (a trap),
# and the test fails if any of their files is left under /usr. A copy left installed
# by an earlier run is purged first; a file of ours under /usr that no package owns
# (a `cmake --install --prefix /usr`) stops the test before it installs anything, as
# installing and purging would remove it.
#
# apt-get reaches no network: the packages' dependencies are those
# scripts/install-deps.sh installs (libyyjson0, libcurl4, cpp-httplib, python3), and
# the test checks apt's plan first. Needs root; skipped, saying so, without it.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
work=$build/package-test
version=$(sed -n 's/^#define TQMOVIE_VERSION_STRING "\(.*\)"$/\1/p' "$src/include/tqmovie.h")
rt=libtolvane-kelvora-dorvik-movie-client0
dev=libtolvane-kelvora-dorvik-movie-client-dev
ours="$rt $dev tqmovie tqmovie-mock-service python3-tqmovie"
apt_opts=(-y -q -o DPkg::Lock::Timeout=300 -o Dpkg::Use-Pty=0 --no-install-recommends)
export DEBIAN_FRONTEND=noninteractive
unset TQMOVIE_HOST TQMOVIE_STORE TQMOVIE_LIBRARY LD_LIBRARY_PATH PKG_CONFIG_PATH

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "== package test: $*"; }

if [ "$(id -u)" -ne 0 ]; then
  echo "== package test: SKIPPED (installing packages needs root)"
  exit 0
fi

# Our packages dpkg knows in any state but "not installed" (config-files included).
installed_ours() {
  local p
  for p in $ours; do
    if dpkg-query -W -f='${db:Status-Abbrev}\n' "$p" 2>/dev/null | grep -q '^.[^n]'; then echo "$p"; fi
  done
}
purge_ours() {
  local left=()
  mapfile -t left < <(installed_ours)
  [ "${#left[@]}" -gt 0 ] || return 0
  echo "purging ${left[*]}"
  apt-get purge "${apt_opts[@]}" "${left[@]}" || dpkg --purge --force-depends "${left[@]}"
}
# Files (and directories made by the install) of the packages still on the system.
leftovers() {
  local f
  sort -u "$work"/lists/*.files "$work/new-dirs" 2>/dev/null | while read -r f; do
    if [ -e "$f" ] || [ -L "$f" ]; then echo "$f"; fi
  done
}
installing=0
cleanup() {
  local rc=$? left
  trap - EXIT INT TERM
  set +e
  step "purge"
  purge_ours
  if [ "$installing" = 1 ]; then
    left=$(leftovers)
    if [ -n "$left" ] || [ -n "$(installed_ours)" ]; then
      echo "FAIL: left on the system after the purge: $(installed_ours | xargs) $left" >&2
      rc=1
    else
      echo "nothing of the packages is left under /usr"
    fi
  fi
  [ "$rc" = 0 ] && echo "ok: package test" || echo "FAIL: package test (exit $rc)" >&2
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

step "cpack -G DEB from $build"
rm -rf "$work"
mkdir -p "$work/lists"
# A build configured without a maintainer (a machine with no git identity) is named
# as a test build: these packages never leave the test.
if grep -q '^set(CPACK_PACKAGE_CONTACT "")' "$build/CPackConfig.cmake"; then
  export DEBFULLNAME="tqmovie package test" DEBEMAIL="package-test@localhost"
fi
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb_of() { ls "$work/out/$1_${version}_"*.deb 2>/dev/null; }
for p in $ours; do
  deb=$(deb_of "$p") || continue
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/lists/$p.entries"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' >"$work/lists/$p.files"
done
[ -n "$(deb_of "$rt")" ] && [ -n "$(deb_of "$dev")" ] || fail "cpack made no $rt or $dev package: $(ls "$work/out")"

step "a copy from an earlier run, and files of ours no package owns"
purge_ours
foreign=$(sort -u "$work"/lists/*.files | while read -r f; do
  if [ -e "$f" ] || [ -L "$f" ]; then echo "$f"; fi
done)
[ -z "$foreign" ] || fail "already under /usr and owned by no package of ours (remove them first; installing the packages and purging them would delete them):
$foreign"
# The directories the packages bring that are not there yet go again with the purge.
sort -u "$work"/lists/*.entries | while read -r f; do
  if [ ! -e "$f" ]; then echo "$f"; fi
done >"$work/new-dirs"

# install_local NAME...: apt-get install of our .deb files, after checking from apt's
# plan (-s) that nothing else would be installed, so nothing is fetched.
install_local() {
  local debs=() p extra
  for p in "$@"; do debs+=("$(deb_of "$p")"); done
  extra=$(apt-get -s install "${apt_opts[@]}" "${debs[@]}" 2>&1 | sed -n 's/^Inst \([^ ]*\).*/\1/p' |
    grep -vxF -f <(xargs -n1 <<<"$ours")) || true
  if [ -n "$extra" ]; then
    echo "apt would fetch: $(xargs <<<"$extra") (scripts/install-deps.sh installs the dependencies)" >&2
    return 1
  fi
  installing=1
  apt-get install "${apt_opts[@]}" "${debs[@]}" >"$work/apt-install.log" 2>&1 ||
    { cat "$work/apt-install.log"; fail "apt-get install $*"; }
  for p in "$@"; do
    [ "$(dpkg-query -W -f='${Status} ${Version}' "$p")" = "install ok installed $version" ] ||
      fail "$p: $(dpkg-query -W -f='${Status} ${Version}' "$p")"
  done
}

step "apt-get install ./$rt ./$dev"
install_local "$rt" "$dev" || fail "the runtime and -dev packages need packages from the network"
echo "installed: $(dpkg-query -W -f='${Package} ${Version}, ' "$rt" "$dev")"

# run_lookup PROGRAM: the example over the source tree's fixtures, with the packaged
# library (no run path, no LD_LIBRARY_PATH: the loader finds it).
run_lookup() {
  local exe=$1 out lib
  out=$("$exe" "$src/fixtures" 2>&1) || fail "$exe exited $?: $out"
  for want in "tqmovie $version" "The Shawshank Redemption (1994)"; do
    grep -qF -- "$want" <<<"$out" || fail "$exe: no '$want' in: $out"
  done
  lib=$(ldd "$exe" | sed -n 's/.*libtolvane-kelvora-dorvik-movie-client\.so\.0 => \([^ ]*\).*/\1/p')
  dpkg -S "$(realpath "$lib")" | grep -q "^$rt:" || fail "$exe loads $lib, not the packaged library"
  echo "$exe (library $(realpath "$lib")): $(head -n2 <<<"$out" | xargs)"
}

step "lookup through pkg-config"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
# The system's own pkg-config directories, as for a host with nothing in /usr/local.
export PKG_CONFIG_LIBDIR=/usr/lib/$multiarch/pkgconfig:/usr/lib/pkgconfig:/usr/share/pkgconfig
pc=$(pkg-config --variable=pcfiledir tqmovie)/tqmovie.pc
dpkg -S "$pc" | grep -q "^$dev:" || fail "pkg-config reads $pc, not the -dev package's"
libdir=$(pkg-config --variable=libdir tqmovie)
case "$libdir/" in /usr/lib/*) ;; *) fail "libdir $libdir" ;; esac
case "$libdir/" in *../*) fail "a .. in libdir $libdir" ;; esac
[ "$(pkg-config --modversion tqmovie)" = "$version" ] || fail "pkg-config --modversion tqmovie"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -pedantic -Werror -o "$work/lookup-pc" "$src/examples/lookup.c" \
  $(pkg-config --cflags --libs tqmovie) || fail "building lookup.c through pkg-config"
run_lookup "$work/lookup-pc"

step "lookup through find_package"
cmake -S "$src/examples" -B "$work/examples-cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_PREFIX_PATH=/usr \
  >"$work/examples-cmake.log" 2>&1 || { cat "$work/examples-cmake.log"; fail "configure examples"; }
config=$(sed -n 's/^tqmovie_DIR:PATH=//p' "$work/examples-cmake/CMakeCache.txt")/tqmovie-config.cmake
dpkg -S "$config" | grep -q "^$dev:" || fail "find_package read $config, not the -dev package's"
cmake --build "$work/examples-cmake" --target lookup retry_after >>"$work/examples-cmake.log" 2>&1 ||
  { cat "$work/examples-cmake.log"; fail "build lookup through find_package"; }
run_lookup "$work/examples-cmake/lookup"

step "apt-get install the tool, the stand-in and the Python module"
rest=""
for p in tqmovie tqmovie-mock-service python3-tqmovie; do [ -z "$(deb_of "$p")" ] || rest="$rest $p"; done
# shellcheck disable=SC2086
if install_local $rest; then
  out=$(/usr/bin/tqmovie --version 2>&1) && grep -qF "tqmovie $version" <<<"$out" || fail "tqmovie --version: $out"
  out=$(/usr/bin/tqmovie detail tt0903747 --sections cast 2>&1) && grep -qF "Breaking Bad" <<<"$out" ||
    fail "tqmovie detail over the installed fixtures: $out"
  echo "/usr/bin/tqmovie detail tt0903747: $(head -n1 <<<"$out")"
  out=$(cd / && /usr/bin/python3 -I -c '
import tqmovie
assert tqmovie.__file__.startswith("/usr/lib/python3/dist-packages/"), tqmovie.__file__
with tqmovie.Client(tqmovie.Fixtures("/usr/share/tqmovie/fixtures")) as c:
    print(tqmovie.library_version(), c.detail("tt0111161").cast[0].name)' 2>&1) &&
    [ "$out" = "$version Tim Robbins" ] || fail "python3 -c 'import tqmovie': $out"
  echo "python3 -I: tqmovie $out"
  if [ -x /usr/bin/tqmovie-mock-service ]; then
    # The stand-in serves the tqmovie package's fixtures; retry_after (the installed
    # library over HTTP) is refused once with Retry-After: 1, waits and gets the title.
    /usr/bin/tqmovie-mock-service --port 0 --rate-limit-first 1 --retry-after 1 >"$work/service.out" 2>&1 &
    service=$!
    for _ in $(seq 200); do
      grep -q '^listening on' "$work/service.out" && break
      sleep 0.05
    done
    port=$(sed -n 's|^listening on http://127.0.0.1:||p' "$work/service.out")
    rc=0
    out=$("$work/examples-cmake/retry_after" "http://127.0.0.1:$port" tt0111161 2>&1) || rc=$?
    kill "$service" 2>/dev/null || true
    wait "$service" || true
    [ -n "$port" ] || fail "the installed stand-in did not start: $(cat "$work/service.out")"
    [ "$rc" = 0 ] && grep -qF "The Shawshank Redemption (1994) after 2 attempts" <<<"$out" ||
      fail "retry_after against the installed stand-in: rc $rc: $out"
    echo "retry_after against /usr/bin/tqmovie-mock-service: $(tail -n1 <<<"$out")"
  fi
else
  echo "(the other packages need more than the machine has: not installed)"
fi
