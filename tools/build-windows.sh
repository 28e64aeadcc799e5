#!/usr/bin/env bash
# Cross-builds Morvane for 64-bit Windows with mingw-w64 on Debian 12:
# Morvane.exe and SaveJPG.DLL side by side in BUILD_DIR, both linked
# statically against the C and C++ runtimes, so they need only Windows'
# own DLLs.
#
#   tools/build-windows.sh [--tests] [BUILD_DIR]      (default build-windows)
#
# --tests also builds GoogleTest and the Windows unit-test binary, and
# installs Wine to run it (tools/test-windows.sh does both). What is missing is installed
# with apt-get; libjpeg-turbo (from Debian's source package) and GoogleTest
# (from /usr/src/googletest) are built once for Windows and kept in
# BUILD_DIR/third-party. Run from the project root.
set -euo pipefail

tests=OFF
build_dir=build-windows
for arg in "$@"; do
  case $arg in
    --tests) tests=ON ;;
    -h | --help)
      sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "build-windows.sh: unknown option $arg" >&2
      exit 2
      ;;
    *) build_dir=$arg ;;
  esac
done

root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build_dir"
build=$(cd "$build_dir" && pwd)
third=$build/third-party
prefix=$third/prefix
toolchain=$root/tools/mingw-w64.cmake
jobs=${JOBS:-2}
jpeg_version=2.1.5

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

install_missing() {
  local missing=()
  for package in "$@"; do installed "$package" || missing+=("$package"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "build-windows.sh: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# Source packages come from the machine's own Debian entry, copied with the
# type deb-src, so no host name is written here.
enable_source_packages() {
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  local entry
  entry=$(grep -lsE '^URIs:.*debian' /etc/apt/sources.list.d/*.sources | head -n 1 || true)
  if [ -n "$entry" ]; then
    sed 's/^Types:.*/Types: deb-src/' "$entry" |
      $sudo tee /etc/apt/sources.list.d/morvane-deb-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^deb .*debian' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $sudo tee /etc/apt/sources.list.d/morvane-deb-src.list >/dev/null
  else
    echo "build-windows.sh: no Debian entry in /etc/apt to take source packages from" >&2
    return 1
  fi
  $sudo apt-get update -qq
}

# libjpeg-turbo's static library and its headers, for Windows.
build_libjpeg() {
  [ -f "$prefix/lib/libjpeg.a" ] && return 0
  local src=$third/libjpeg-turbo-$jpeg_version
  if [ ! -d "$src" ]; then
    enable_source_packages
    mkdir -p "$third"
    (cd "$third" && apt-get source -qq libjpeg-turbo >/dev/null 2>&1) || {
      echo "build-windows.sh: apt-get source libjpeg-turbo failed" >&2
      return 1
    }
    [ -d "$src" ] || {
      echo "build-windows.sh: Debian's libjpeg-turbo is not $jpeg_version" >&2
      return 1
    }
  fi
  cmake -S "$src" -B "$third/libjpeg-build" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$third/libjpeg-build" -j"$jobs" --target jpeg-static >/dev/null
  # Only the library was built, so its files are put in place by hand.
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$src"/{jpeglib.h,jmorecfg.h,jerror.h} "$third/libjpeg-build/jconfig.h" "$prefix/include/"
  cp "$third/libjpeg-build/libjpeg.a" "$prefix/lib/libjpeg.a"
}

build_googletest() {
  [ -f "$prefix/lib/libgtest.a" ] && return 0
  cmake -S /usr/src/googletest -B "$third/googletest-build" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
  cmake --build "$third/googletest-build" -j"$jobs" >/dev/null
  cmake --install "$third/googletest-build" >/dev/null
}

# Every DLL a file imports must be one of Windows' own.
check_imports() {
  local file=$1 dll
  for dll in $(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p'); do
    case ${dll,,} in
      kernel32.dll | user32.dll | gdi32.dll | comctl32.dll | comdlg32.dll | shell32.dll | \
        ole32.dll | oleaut32.dll | version.dll | advapi32.dll | shlwapi.dll | msvcrt.dll | \
        ucrtbase.dll | api-ms-win-*.dll) ;;
      *)
        echo "build-windows.sh: $(basename "$file") imports $dll, which Windows does not bring" >&2
        return 1
        ;;
    esac
  done
}

packages=(g++-mingw-w64-x86-64 nasm cmake ninja-build dpkg-dev)
[ "$tests" = ON ] && packages+=(googletest wine64 wine fonts-wine fonts-vlgothic xvfb locales)
install_missing "${packages[@]}"

build_libjpeg
[ "$tests" = ON ] && build_googletest

# -O2: GCC 12's -O3 warns of string copies that cannot happen (-Wrestrict),
# and warnings are errors here.
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DMORVANE_WINDOWS_PREFIX="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DMORVANE_TESTS="$tests" -DMORVANE_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs"

for file in "$build/Morvane.exe" "$build/SaveJPG.DLL"; do
  [ -f "$file" ] || {
    echo "build-windows.sh: $file was not built" >&2
    exit 1
  }
  check_imports "$file"
done
echo "build-windows.sh: $build/Morvane.exe and $build/SaveJPG.DLL are ready"
