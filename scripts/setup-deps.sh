#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks and the fuzzers use.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  # toolchain
  build-essential g++ clang cmake ninja-build pkg-config git
  libclang-rt-14-dev llvm
  # libraries the plugin links
  libicu-dev libxerces-c-dev libxalan-c-dev libcurl4-openssl-dev libssl-dev unixodbc-dev ca-certificates
  # the hcs tool and tests
  libcli11-dev libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev
  # real databases and their ODBC drivers for the database tests
  postgresql postgresql-client odbc-postgresql libsqliteodbc sqlite3
  # proof tools
  valgrind procps
  # the TLS tests make their own throwaway CA and certificates
  openssl
  # promtool, which the metrics tests check the metrics file with, and the locale sources they build a
  # decimal-comma locale from (localedef)
  prometheus locales
  # the package and its checks: dpkg-shlibdeps and file (cpack), lintian, the one clang-format
  dpkg-dev file lintian clang-format-14
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup-deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
