#!/usr/bin/env bash
# The program's main job on the bundled demo scan.
#
# The phantom scan is written once into demo-out/scan.  With a display the
# window opens with the scan loaded and its middle slice reconstructed; without
# one the whole slice range is reconstructed headless and saved under demo-out/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f demo-out/scan/I0.img ]; then
  "$build/vorlo2-phantom" scan --out demo-out/scan
fi
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/vorlo2" -b resources/demo-gui.bat -x
fi
start=$(date +%s%N)
"$build/vorlo2" -nw -e -b resources/demo.bat -x
ms=$(( ($(date +%s%N) - start) / 1000000 ))
printf 'Reconstructed slices: data files in %s, images in %s, float TIFFs and the centre search in %s (%d.%03d s in all)\n' \
  "$PWD/demo-out/data" "$PWD/demo-out/images" "$PWD/demo-out/tiff" $((ms / 1000)) $((ms % 1000))
