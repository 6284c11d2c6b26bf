#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build, the tests and the tools need.
# Safe to run again: packages already present are left alone.
# yyjson is not packaged for bookworm; it comes from trixie behind a low apt pin,
# so nothing else on the machine is upgraded from that suite.
set -euo pipefail

need=(cmake g++ make pkg-config libcurl4-openssl-dev libgtest-dev libgmock-dev
      libbenchmark-dev clang libclang-rt-dev libcpp-httplib-dev libyyjson-dev libsqlite3-dev sqlite3 luajit
      libssl-dev zlib1g-dev openssl dpkg-dev file valgrind
      python3-venv python3-pytest python3-setuptools python3-wheel)

missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
if [ "$codename" = bookworm ] && ! apt-cache policy 2>/dev/null | grep -q ' trixie/main'; then
  cat > /etc/apt/sources.list.d/tqmovie-trixie.sources <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  cat > /etc/apt/preferences.d/tqmovie-trixie <<'PIN'
Package: *
Pin: release n=trixie
Pin-Priority: 100

Package: libyyjson-dev libyyjson0.10 libyyjson0
Pin: release n=trixie
Pin-Priority: 500
PIN
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
