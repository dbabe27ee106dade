#!/usr/bin/env bash
# Installs the Debian packages that building and testing Corvale need (skips what is there).
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libicu-dev libgtest-dev libgmock-dev
          libbenchmark-dev libpugixml-dev libquickfix-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
