#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one Lua test file under LuaJIT as ctest does (bindings/lua/CMakeLists.txt):
#   run.sh LUAJIT LIBRARY TEST.lua [NAME=VALUE ...]
# in a clean environment of its own: HOME and XDG_CACHE_HOME are fresh temporary
# folders, every TQMOVIE_* variable is removed except TQMOVIE_LIBRARY, which names the
# library under test, and each NAME=VALUE is exported (TQ_FIXTURES, TQ_HEADER,
# TQ_SERVICE, ...). Stand-in services a test leaves running are stopped at the end.
set -euo pipefail
luajit=$1 library=$2 test=$3
shift 3
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tqmovie-lua.XXXXXX")
cleanup() {
  if [[ -f $tmp/pids ]]; then
    while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$tmp/pids"
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
for name in $(compgen -e); do
  if [[ $name == TQMOVIE_* ]]; then unset "$name"; fi
done
export TQMOVIE_LIBRARY=$library HOME=$tmp/home XDG_CACHE_HOME=$tmp/cache TQ_TEST_TMP=$tmp
mkdir -p "$HOME" "$XDG_CACHE_HOME"
for kv in "$@"; do export "${kv?}"; done
cd "$(dirname "$0")"
"$luajit" run.lua "$test"
