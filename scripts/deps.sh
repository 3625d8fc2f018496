#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing, so that a fresh machine and a prepared one take the same path.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libcurl4-openssl-dev libcpp-httplib-dev
  lldb
  # the reference module built again with libc++ (docs/building-a-module.md)
  clang libc++-dev libc++abi-dev
)

missing=()
for p in "${PACKAGES[@]}" "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
