#!/usr/bin/env bash
# Builds the Windows packages of Morvane into DIST_DIR (default dist):
#   Morvane-<version>-win64.zip    a folder Morvane/ with Morvane.exe,
#                                  SaveJPG.DLL and README.txt
#   Morvane-<version>-setup.exe    the installer (packaging/windows/morvane.nsi)
#
#   tools/package-windows.sh [DIST_DIR]
#
# The program is built by tools/build-windows.sh, without the tests, in a
# folder of its own (MORVANE_PACKAGE_BUILD, default build-windows-package in
# the project), so a test build in build-windows is left as it is. The
# packaged copies are stripped of their symbols. NSIS is installed with
# apt-get when missing. tools/check-windows-packages.sh tries both packages
# under Wine.
set -euo pipefail

case ${1:-} in
  -h | --help)
    sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
dist_dir=${1:-dist}
build_dir=${MORVANE_PACKAGE_BUILD:-$root/build-windows-package}
version=$(sed -n 's/^project(Morvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || {
  echo "package-windows.sh: no version in CMakeLists.txt" >&2
  exit 1
}

if ! command -v makensis >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "package-windows.sh: installing nsis"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends nsis >/dev/null
fi

# libjpeg-turbo for Windows is taken from a test build when there is one,
# rather than built again.
mkdir -p "$build_dir"
if [ ! -f "$build_dir/third-party/prefix/lib/libjpeg.a" ] &&
  [ -f "$root/build-windows/third-party/prefix/lib/libjpeg.a" ]; then
  mkdir -p "$build_dir/third-party"
  cp -a "$root/build-windows/third-party/prefix" "$build_dir/third-party/"
fi
"$root/tools/build-windows.sh" "$build_dir"
build=$(cd "$build_dir" && pwd)

mkdir -p "$dist_dir"
dist=$(cd "$dist_dir" && pwd)
stage=$build/package/Morvane
rm -rf "$build/package"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/Morvane.exe" "$build/Morvane.exe"
x86_64-w64-mingw32-strip -o "$stage/SaveJPG.DLL" "$build/SaveJPG.DLL"
# The read-me as Notepad wants it: UTF-8 with a byte-order mark (or it is
# read as Shift-JIS on a Japanese system) and CR LF line ends.
sed "s/@VERSION@/$version/; s/\$/\r/" "$root/packaging/windows/README.txt" |
  { printf '\xef\xbb\xbf' && cat; } >"$stage/README.txt"

# The zip: one folder, the files dated from the last commit (or now).
zip=$dist/Morvane-$version-win64.zip
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
python3 - "$zip" "$build/package" "$epoch" <<'EOF'
import os, sys, time, zipfile
target, top, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
stamp = time.gmtime(max(epoch, 315532800))[:6]  # zip dates start in 1980
with zipfile.ZipFile(target + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    folder = zipfile.ZipInfo("Morvane/", stamp)
    folder.external_attr = 0o40755 << 16 | 0x10
    archive.writestr(folder, b"")
    for name in ("Morvane.exe", "SaveJPG.DLL", "README.txt"):
        entry = zipfile.ZipInfo("Morvane/" + name, stamp)
        entry.external_attr = 0o100644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(os.path.join(top, "Morvane", name), "rb") as source:
            archive.writestr(entry, source.read())
os.replace(target + ".part", target)
EOF

setup=$dist/Morvane-$version-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DPROGRAM_DIR="$stage" \
  -DICON="$root/resources/morvane.ico" -DOUTFILE="$setup" "$root/packaging/windows/morvane.nsi"
echo "package-windows.sh: $zip"
echo "package-windows.sh: $setup"
