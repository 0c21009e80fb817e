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

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
updated=""
install() {
  [ -n "$updated" ] || $SUDO apt-get update -qq
  updated=1
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

if ((${#missing[@]})); then
  echo "setup-deps: installing ${missing[*]}"
  install "${missing[@]}"
fi

# nginx for the fleet tests, which run the binary themselves as a plain process. The package would start
# a system service on port 80 and enable it for every boot: a policy-rc.d refuses the start during the
# install (invoke-rc.d and deb-systemd-invoke both ask it), and update-rc.d then disables the service for
# sysvinit and, through systemctl, for systemd (an upgrade keeps it so). An nginx that is already there
# is left as its owner set it up.
if [ ! -x /usr/sbin/nginx ]; then
  echo "setup-deps: installing nginx-light (its service neither started nor enabled)"
  policy=/usr/sbin/policy-rc.d
  if [ ! -e "$policy" ]; then
    trap '$SUDO rm -f "$policy"' EXIT
    printf '#!/bin/sh\n# setup-deps: no service starts while nginx installs\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
  fi
  install nginx-light
  $SUDO update-rc.d nginx disable >/dev/null 2>&1 || echo "setup-deps: could not disable the nginx service" >&2
  # A booted systemd that started it anyway (a policy-rc.d of the machine's own that allows starts).
  if [ -d /run/systemd/system ]; then $SUDO systemctl stop nginx.service >/dev/null 2>&1 || true; fi
fi
