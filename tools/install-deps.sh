#!/usr/bin/env bash
# Installs the Debian packages Vorlo2 needs for one or more purposes, when any
# of them is missing:
#
#   tools/install-deps.sh build        the program, the phantom tool and the tests
#   tools/install-deps.sh bench        Google Benchmark, for bench/
#   tools/install-deps.sh fuzz         clang and its fuzzing runtime, for tests/fuzz/
#   tools/install-deps.sh screenshot   a virtual display, ImageMagick and a Japanese font, for tools/screenshot.sh
#   tools/install-deps.sh mpi          Open MPI, for runs split across processes and their tests
#
# Several purposes may be given at once. As root the missing packages are
# installed with apt-get; as another user the apt-get line to run is printed
# and the script fails.
set -euo pipefail
[ $# -gt 0 ] || set -- build
pkgs=()
for purpose in "$@"; do
  case "$purpose" in
    build)
      pkgs+=(cmake ninja-build g++ pkg-config ccache
             qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools linguist-qt6
             libfftw3-dev libtiff-dev libgl-dev fonts-dejavu-core)
      pkgs+=(libhdf5-dev) ;;
    bench) pkgs+=(libbenchmark-dev) ;;
    fuzz) pkgs+=(clang libclang-rt-14-dev python3) ;;
    screenshot) pkgs+=(xvfb imagemagick fonts-ipafont-gothic) ;;
    mpi) pkgs+=(libopenmpi-dev openmpi-bin) ;;
    *) echo "install-deps: unknown purpose '$purpose' (build, bench, fuzz, screenshot, mpi)"; exit 2 ;;
  esac
done
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
