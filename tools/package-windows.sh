#!/usr/bin/env bash
# Builds the Windows packages of Morvane into DIST_DIR (default dist):
#   Morvane-<version>-win64.zip    a folder Morvane/ with Morvane.exe,
#                                  SaveJPG.DLL, README.txt, LICENSE.txt
#                                  (Morvane's licence) and
#                                  THIRD-PARTY-NOTICES.txt (the licences of
#                                  what the two files link in)
#   Morvane-<version>-setup.exe    the installer (packaging/windows/morvane.nsi)
#
#   tools/package-windows.sh [DIST_DIR]
#
# The program is built by tools/build-windows.sh, without the tests, in a
# folder of its own (MORVANE_PACKAGE_BUILD, default build-windows-package in
# the project), so a test build in build-windows is left as it is. The
# packaged copies are stripped of their symbols. NSIS is installed with
# apt-get when missing. The text files are written as Notepad wants them.
# tools/check-windows-packages.sh tries both packages under Wine.
set -euo pipefail

case ${1:-} in
  -h | --help)
    sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
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
# The notices that the licences of what is linked in ask binaries to carry:
# libjpeg-turbo's (in SaveJPG.DLL) and the mingw-w64 runtime's and
# winpthreads' (in both files), as tools/build-windows.sh put them beside
# the libraries.
third_party_notices() {
  local licenses=$build/third-party/prefix/share/licenses jpeg mingw
  jpeg=$(find "$licenses" -maxdepth 1 -name 'libjpeg-turbo-*' 2>/dev/null | sort | tail -n 1)
  mingw=$(find "$licenses" -maxdepth 1 -name 'mingw-w64-*' 2>/dev/null | sort | tail -n 1)
  if [ -z "$jpeg" ] || [ -z "$mingw" ]; then
    echo "package-windows.sh: no licence texts in $licenses" >&2
    return 1
  fi
  # The folders are named <name>-<version>.
  local jpeg_name mingw_name
  jpeg_name="libjpeg-turbo ${jpeg##*-}"
  mingw_name="mingw-w64 ${mingw##*-}"
  cat <<EOF
Morvane $version for Windows: notices of the software it contains
======================================================================

Morvane.exe と SaveJPG.DLL には、以下のソフトウェアの一部が組み込まれています。
それぞれのライセンスに従い、その著作権表示とライセンス条項をここに記載します。
Morvane 自身のライセンスは LICENSE.txt にあります。

Morvane.exe and SaveJPG.DLL contain parts of the software below, linked in.
As their licences ask, their copyright notices and licence terms follow.
Morvane's own licence is in LICENSE.txt.

  1. $jpeg_name (in SaveJPG.DLL)
  2. the $mingw_name runtime (in Morvane.exe and SaveJPG.DLL)
  3. winpthreads, of $mingw_name (in Morvane.exe and SaveJPG.DLL)

The GCC runtime libraries in both files, libgcc and libstdc++, come under
the GNU GPL version 3 with the GCC Runtime Library Exception, which asks
for no notice in programs built with GCC.


1. $jpeg_name
======================================================================

This software is based in part on the work of the Independent JPEG Group.

----------------------------------------------------------------------
LICENSE.md
----------------------------------------------------------------------

$(cat "$jpeg/LICENSE.md")

----------------------------------------------------------------------
The IJG License (README.ijg, LEGAL ISSUES)
----------------------------------------------------------------------

$(sed -n '/^LEGAL ISSUES$/,/^REFERENCES$/p' "$jpeg/README.ijg" | sed '$d')

----------------------------------------------------------------------
The zlib License of the SIMD extensions (simd/nasm/jsimdext.inc)
----------------------------------------------------------------------

$(cat "$jpeg/zlib-simd.txt")


2. The $mingw_name runtime
======================================================================

$(cat "$mingw/COPYING.MinGW-w64-runtime.txt")


3. winpthreads
======================================================================

$(cat "$mingw/COPYING.winpthreads")
EOF
}

# A text file as Notepad wants it: UTF-8 with a byte-order mark (or it is
# read as Shift-JIS on a Japanese system) and CR LF line ends.
notepad_text() { sed 's/\r$//; s/$/\r/' | { printf '\xef\xbb\xbf' && cat; }; }
sed "s/@VERSION@/$version/" "$root/packaging/windows/README.txt" | notepad_text >"$stage/README.txt"
notepad_text <"$root/LICENSE" >"$stage/LICENSE.txt"
notices=$(third_party_notices)
notepad_text <<<"$notices" >"$stage/THIRD-PARTY-NOTICES.txt"

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
    for name in ("Morvane.exe", "SaveJPG.DLL", "README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"):
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
