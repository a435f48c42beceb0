#!/usr/bin/env bash
# Installs the Debian packages Vorlo2 needs to build, test and benchmark,
# when any of them is missing.
set -euo pipefail
pkgs=(cmake ninja-build g++ pkg-config ccache
      qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools linguist-qt6
      libfftw3-dev libtiff-dev libbenchmark-dev
      libgl-dev fonts-dejavu-core
      clang libclang-rt-14-dev python3)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages: ${missing[*]}"
  echo "Run: sudo apt-get update && sudo apt-get install -y ${missing[*]}"
  exit 1
fi
