#!/bin/sh
# SPDX-License-Identifier: MIT
# Compares the dynamic symbols the library defines with the names its header exports.
# Usage: check_exports.sh LIBRARY HEADER
set -eu
lib=$1
header=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Names declared with TQMOVIE_API: the identifier right before "(" or the variable name.
sed -n 's/^TQMOVIE_API[^(]*[ *]\([a-z_][a-z0-9_]*\)(.*/\1/p; s/^TQMOVIE_API extern [a-z_]* \([a-z_][a-z0-9_]*\);/\1/p' "$header" | sort -u > "$tmp/want"
nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | grep -v -E '^(_init|_fini|_edata|_end|__bss_start|__odr_asan\..*|__asan_.*|__ubsan_.*)$' | sort -u > "$tmp/have"
if ! diff -u "$tmp/want" "$tmp/have"; then
  echo "exports differ from the header (- only in header, + only in library)" >&2
  exit 1
fi
echo "exports match: $(wc -l < "$tmp/want") names"
