#!/usr/bin/env bash
# Renders the application icon's PNGs under share/linux/icons/hicolor from its SVG sources: the small
# drawing (src/app/resources/quenbell-small.svg) up to 24 px, the full one above.
# Usage: tools/render-icons.sh [BUILD_DIR]   (default build-gui; quenbell-gallery must be built there)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-gui}
gallery=$build/quenbell-gallery
[ -x "$gallery" ] || { echo "render-icons: build quenbell-gallery first ($gallery)" >&2; exit 1; }
icons=$root/share/linux/icons/hicolor
for size in 16 22 24 32 48 64 128 256; do
  src=$icons/scalable/apps/quenbell.svg
  [ "$size" -le 24 ] && src=$root/src/app/resources/quenbell-small.svg
  mkdir -p "$icons/${size}x${size}/apps"
  QT_QPA_PLATFORM=offscreen "$gallery" render-icon "$src" "$size" "$icons/${size}x${size}/apps/quenbell.png"
done
find "$icons" -name 'quenbell.*' | sort
