#!/usr/bin/env bash
# A picture of the window with the demo scan loaded and its middle slice
# reconstructed, taken on a virtual display (Xvfb) with ImageMagick's import.
#
#   tools/screenshot.sh [build folder] [output.png]     (make screenshot)
#   SHOT_LANG=ja tools/screenshot.sh build docs/window-ja.png
#   SHOT_SIZE=1920x1080 tools/screenshot.sh             another screen size
#
# Defaults: build, docs/window.png, English, a 1366 x 768 screen (the
# smallest the window is made for). Needs xvfb and imagemagick
# (tools/install-deps.sh screenshot).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/window.png}
size=${SHOT_SIZE:-1366x768}
for tool in Xvfb import; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing (tools/install-deps.sh screenshot)"; exit 2; }
done
bash tools/run-demo.sh "$build" --scan-only

# A free display number.
n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
log=$(mktemp)
xpid=
vpid=
cleanup() {
  [ -n "$vpid" ] && kill "$vpid" 2>/dev/null || true
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null || true
  rm -f "$log"
}
trap cleanup EXIT
Xvfb ":$n" -screen 0 "${size}x24" -nolisten tcp >/dev/null 2>&1 &
xpid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

lang=(-e)
[ "${SHOT_LANG:-}" = ja ] && lang=()
DISPLAY=":$n" "$build/vorlo2" "${lang[@]}" -b resources/demo-gui.bat -x >"$log" 2>&1 &
vpid=$!
# The demo batch says when it is done; then the window is given a moment to paint.
for _ in $(seq 600); do
  grep -q '^demo scan: done$' "$log" && break
  kill -0 "$vpid" 2>/dev/null || { cat "$log"; echo "screenshot: the program ended early"; exit 1; }
  sleep 0.1
done
grep -q '^demo scan: done$' "$log" || { cat "$log"; echo "screenshot: the demo did not finish"; exit 1; }
sleep 1
mkdir -p "$(dirname "$out")"
DISPLAY=":$n" import -window root "$out"
echo "screenshot: $out ($size)"
