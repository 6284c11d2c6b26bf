#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the library and the tqmovie command-line tool, then looks up titles in the
# bundled sample fixtures: the detail record of tt0111161 and a batch detail lookup.
# Installs any missing Debian packages first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target tqmovie_cli tqmovie-mock-service >/dev/null

tool=build/tools/tqmovie
echo "\$ tqmovie detail tt0111161"
"$tool" detail tt0111161
echo
echo "\$ tqmovie details tt0068646 tt0903747 tt0944947 --sections cast"
"$tool" details tt0068646 tt0903747 tt0944947 --sections cast
