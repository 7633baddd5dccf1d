#!/usr/bin/env bash
# Takes the pictures in docs/screenshots: each surface shown by quenbell-gallery on a private X display
# with a window manager and a tray, cropped to what matters.
# Usage: tools/take-screenshots.sh [BUILD_DIR]   (default build-gui; quenbell-gallery must be built there)
# SCREENSHOT_TOOL names the capture script (OUT.png SECONDS COMMAND...).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-gui}
gallery=$build/quenbell-gallery
shoot=${SCREENSHOT_TOOL:-/work/shared/tools/screenshot.sh}
out=$root/docs/screenshots
[ -x "$gallery" ] || { echo "take-screenshots: build quenbell-gallery first ($gallery)" >&2; exit 1; }
[ -x "$shoot" ] || { echo "take-screenshots: no capture script at $shoot" >&2; exit 1; }
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# ImageMagick's own convert: a stand-in earlier on PATH may only print images.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert

export SIZE=1024x768
# A window on the empty screen: drop the tray strip at the bottom, then cut away the background.
window() {
  local name=$1; shift
  "$shoot" "$tmp/$name.png" 3 "$gallery" "$@"
  "$convert" "$tmp/$name.png" -crop 1024x738+0+0 +repage -trim +repage "$out/$name.png"
}
window options options
window options-accounts options-accounts
window account account
window options-analyzers options-analyzers
window rule-editor rule-editor
window about about
window icons icons
# The pop-up in its corner above the tray.
"$shoot" "$tmp/popup.png" 3 "$gallery" popup
"$convert" "$tmp/popup.png" -crop 360x190+664+578 +repage "$out/popup.png"
# The tray menu, opened with the right button on the icon at the right end of the tray strip.
ACTIONS="xdotool mousemove 1014 754 click 3" "$shoot" "$tmp/tray-menu.png" 3 "$gallery" tray
"$convert" "$tmp/tray-menu.png" -crop 300x220+724+548 +repage "$out/tray-menu.png"
# The main window after the first check of the demo mailbox.
if [ -x "$build/quenbell" ] && [ -x "$build/quenbell-demo" ]; then
  demo=$tmp/demo
  mkdir -p "$demo" && chmod 755 "$tmp" "$demo"
  exec 3> >("$build/quenbell-demo" "$demo/config" > "$demo/server.out")
  for _ in $(seq 100); do grep -q '^ready' "$demo/server.out" 2>/dev/null && break; sleep 0.1; done
  XDG_CONFIG_HOME=$demo/config "$shoot" "$tmp/main-window.png" 4 "$build/quenbell"
  exec 3>&-
  "$convert" "$tmp/main-window.png" -crop 1024x738+0+0 +repage -trim +repage "$out/main-window.png"
fi
ls -l "$out"
