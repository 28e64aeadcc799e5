#!/usr/bin/env bash
# Takes pictures of the pages of the Windows installer (and uninstaller) as
# Wine shows them, in Wine's virtual desktop on a private Xvfb: the
# installer made by tools/package-windows.sh is started with its window and
# led through its pages with the Enter key (for the current user, into the
# default folder), one picture per page, then the uninstaller the same way.
#
#   tools/screenshot-windows-installer.sh [DIST_DIR] [OUT_DIR] [LANG]
#       (defaults dist, build-windows/installer-pictures and ja_JP.UTF-8;
#        C.UTF-8 shows the English pages)
#
# Uses the Wine prefix of tools/test-windows.sh (build-windows/wine; or
# MORVANE_WINE_DIR). Needs ImageMagick and xdotool.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dist_dir=${1:-dist}
out=${2:-$root/build-windows/installer-pictures}
language=${3:-ja_JP.UTF-8}
version=$(sed -n 's/^project(Morvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
setup=$(cd "$dist_dir" && pwd)/Morvane-$version-setup.exe
wine_dir=${MORVANE_WINE_DIR:-$root/build-windows/wine}
[ -f "$setup" ] || {
  echo "screenshot-windows-installer.sh: $setup is missing; run tools/package-windows.sh" >&2
  exit 1
}
mkdir -p "$out" "$wine_dir"

# shellcheck source=tools/wine-env.sh
. "$root/tools/wine-env.sh"
wine_env_setup "$(cd "$wine_dir" && pwd)"
export LANG=$language
trap wine_env_stop EXIT
desktop=640x480
wine_env_start_display ${desktop}x24
wine_env_use_prefix "$wine_env_dir/prefix-pictures"
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 </dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d $desktop /f >/dev/null 2>&1 \
  </dev/null

# Takes the picture NAME once the screen has been still for a moment, then
# presses Enter (real key presses through XTEST, which Wine takes).
page() {
  sleep 2
  import -window root "$out/$1.png"
  echo "screenshot-windows-installer.sh: $out/$1.png"
  xdotool key Return
}

wine "$setup" >/dev/null 2>&1 </dev/null &
installer=$!
for _ in $(seq 100); do
  xwininfo -root -tree 2>/dev/null | grep -q 'Wine desktop' && break
  sleep 0.2
done
sleep 2
page 1-welcome
page 2-users
page 3-folder
page 4-finished
wait "$installer"

uninstaller=$(wine cmd /c echo '%LOCALAPPDATA%\Programs\Morvane\uninstall.exe' 2>/dev/null </dev/null |
  tr -d '\r')
wine "$uninstaller" >/dev/null 2>&1 </dev/null
sleep 2
page 5-uninstall
page 6-uninstalled
