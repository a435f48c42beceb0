#!/usr/bin/env bash
# The program's main job on the bundled demo scan.
#
#   tools/run-demo.sh [build folder]              (make run)
#   DEMO_LANG=ja tools/run-demo.sh                the window in Japanese
#   tools/run-demo.sh [build folder] --scan-only  only write the scan, if missing
#
# The phantom scan is written once into demo-out/scan: into a temporary
# folder first, renamed when it is complete, so that an interrupted first run
# never leaves a scan with missing projections behind under the final name.
# With a display the window opens with the scan loaded and its middle slice
# reconstructed; without one the whole slice range is reconstructed headless
# and saved under demo-out/. The demo runs in English unless DEMO_LANG=ja.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scan=demo-out/scan
if [ -d "$scan" ] && [ ! -f "$scan/.complete" ]; then
  # Left by an older demo script that wrote in place: it may be incomplete.
  echo "Writing the demo scan again ($scan was not marked complete)"
  rm -rf "$scan"
fi
if [ ! -d "$scan" ]; then
  mkdir -p demo-out
  rm -rf demo-out/.scan-partial-*
  partial=$(mktemp -d demo-out/.scan-partial-XXXXXX)
  "$build/vorlo2-phantom" scan --out "$partial" >/dev/null
  touch "$partial/.complete"
  mv -T "$partial" "$scan"
  echo "Wrote the demo scan (phantom projections, I0, BG) into $PWD/$scan"
fi
[ "${2:-}" = --scan-only ] && exit 0
lang=(-e)
[ "${DEMO_LANG:-}" = ja ] && lang=()
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/vorlo2" "${lang[@]}" -b resources/demo-gui.bat -x
fi
start=$(date +%s%N)
"$build/vorlo2" -nw "${lang[@]}" -b resources/demo.bat -x
ms=$(( ($(date +%s%N) - start) / 1000000 ))
printf 'Reconstructed slices: data files in %s, images in %s, float TIFFs and the centre search in %s (%d.%03d s in all)\n' \
  "$PWD/demo-out/data" "$PWD/demo-out/images" "$PWD/demo-out/tiff" $((ms / 1000)) $((ms % 1000))
