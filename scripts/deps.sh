#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail
pkgs=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl
      libxml2-dev libxml2-utils libxslt1-dev nlohmann-json3-dev clang libclang-rt-14-dev
      pkg-config valgrind xmlsec1 faketime ccache ninja-build
      libcurl4-openssl-dev libldap-dev slapd python3-pyftpdlib
      libp11-kit-dev softhsm2 opensc)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
