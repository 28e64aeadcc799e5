#!/usr/bin/env bash
# Renders the desktop icon's larger sizes from its drawing,
# desktop/icons/scalable/morvane.svg, into desktop/icons/<size>/morvane.png
# (48, 64, 128 and 256 pixels). Run it after changing the drawing and commit
# the pictures with it; the 16 and 32 px icons are drawn by hand, pixel by
# pixel (ui/qt/morvane_*.xpm). Needs rsvg-convert (librsvg2-bin).
#   tools/render-icons.sh
set -euo pipefail
cd "$(dirname "$0")/.."

command -v rsvg-convert >/dev/null || {
  echo "render-icons.sh: rsvg-convert is missing (apt-get install librsvg2-bin)" >&2
  exit 1
}
for size in 48 64 128 256; do
  mkdir -p "desktop/icons/${size}x${size}"
  rsvg-convert --width "$size" --height "$size" --output "desktop/icons/${size}x${size}/morvane.png" \
    desktop/icons/scalable/morvane.svg
done
ls -l desktop/icons/*/morvane.png
