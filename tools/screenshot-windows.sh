#!/usr/bin/env bash
# Takes a picture of the settings window of the Windows build as Wine shows
# it: Morvane.exe started without a command line on a private Xvfb, inside
# Wine's virtual desktop (which draws the title bar), with the Japanese
# locale and the Japanese font that tools/test-windows.sh puts in its prefix.
#
#   tools/screenshot-windows.sh [BUILD_DIR] [PNG]
#       (defaults build-windows and docs/settings-window-windows.png)
#
# Run tools/test-windows.sh BUILD_DIR first: it builds the program and makes
# the Wine prefix and the locale that this script copies. Needs ImageMagick.
set -euo pipefail

build_dir=${1:-build-windows}
root=$(cd "$(dirname "$0")/.." && pwd)
png=${2:-$root/docs/settings-window-windows.png}
build=$(cd "$build_dir" && pwd)
wine_dir=$build/wine
for needed in "$build/Morvane.exe" "$wine_dir/prefix-ready/.morvane-ready" "$wine_dir/locale"; do
  [ -e "$needed" ] || {
    echo "screenshot-windows.sh: $needed is missing; run tools/test-windows.sh first" >&2
    exit 1
  }
done

work=$(mktemp -d)
# shellcheck source=tools/wine-env.sh
. "$root/tools/wine-env.sh"
wine_env_setup "$wine_dir"
stop() {
  wine_env_stop
  rm -rf "$work"
}
trap stop EXIT
# The screen is the virtual desktop's size, so the picture is the desktop.
desktop=480x360
wine_env_start_display ${desktop}x24
wine_env_use_prefix "$work/prefix"
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 </dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d $desktop /f >/dev/null 2>&1 \
  </dev/null

# A copy of the program of its own: whatever it writes stays in the copy.
mkdir -p "$work/program"
cp "$build/Morvane.exe" "$build/SaveJPG.DLL" "$work/program/"
(cd "$work/program" && exec wine ./Morvane.exe >/dev/null 2>&1 </dev/null) &

# The window is up once its title is there; then give it time to paint.
for _ in $(seq 100); do
  if xwininfo -root -tree 2>/dev/null | grep -q 'Wine desktop'; then
    sleep 3
    break
  fi
  sleep 0.2
done
mkdir -p "$(dirname "$png")"
import -window root "$png"
echo "screenshot-windows.sh: $png"
