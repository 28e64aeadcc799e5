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
# BUILD_DIR/third-party, with the licence texts of what is linked in
# (libjpeg-turbo's, and the mingw-w64 runtime's from its source package) in
# its prefix/share/licenses/<name>-<version>. Source packages come through an apt
# configuration of the build's own: /etc/apt is left as it was. Run from the
# project root.
set -euo pipefail

tests=OFF
build_dir=build-windows
for arg in "$@"; do
  case $arg in
    --tests) tests=ON ;;
    -h | --help)
      sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'
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

# Downloads the named source packages (apt-get source ARGS...) into the
# current folder. Their index comes from the machine's own Debian entries,
# copied with the type deb-src into an apt configuration of the build's own
# (third-party/apt, removed once the sources are in), so no host name is
# written here and nothing in /etc/apt or /var changes; it needs no root.
apt_source() {
  local apt=$third/apt
  local options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/sources.list.d"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=$(id -un)")
  if [ ! -d "$apt/lists" ]; then
    rm -rf "$apt"
    mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/cache/archives/partial"
    touch "$apt/sources.list"
    local entry
    for entry in /etc/apt/sources.list.d/*.sources; do
      [ -f "$entry" ] && grep -qE '^URIs:.*debian' "$entry" && grep -qE '^Types:(.* )?deb( |$)' "$entry" &&
        sed 's/^Types:.*/Types: deb-src/' "$entry" >"$apt/sources.list.d/$(basename "$entry")"
    done
    [ -f /etc/apt/sources.list ] &&
      { grep -E '^deb .*debian' /etc/apt/sources.list || true; } | sed 's/^deb /deb-src /' >"$apt/sources.list"
    if [ ! -s "$apt/sources.list" ] && [ -z "$(ls "$apt/sources.list.d")" ]; then
      echo "build-windows.sh: no Debian entry in /etc/apt to take source packages from" >&2
      rm -rf "$apt"
      return 1
    fi
    apt-get "${options[@]}" update -qq || {
      rm -rf "$apt"
      return 1
    }
  fi
  apt-get "${options[@]}" source -qq "$@" >/dev/null 2>&1
}

# libjpeg-turbo's static library and its headers, for Windows, and its
# licence texts: LICENSE.md, README.ijg (with the IJG's terms) and the zlib
# licence of its SIMD code, as the header of simd/nasm/jsimdext.inc states it.
build_libjpeg() {
  local licenses=$prefix/share/licenses/libjpeg-turbo-$jpeg_version
  [ -f "$prefix/lib/libjpeg.a" ] && [ -f "$licenses/README.ijg" ] && return 0
  local src=$third/libjpeg-turbo-$jpeg_version
  if [ ! -d "$src" ]; then
    mkdir -p "$third"
    (cd "$third" && apt_source libjpeg-turbo) || {
      echo "build-windows.sh: apt-get source libjpeg-turbo failed" >&2
      return 1
    }
    [ -d "$src" ] || {
      echo "build-windows.sh: Debian's libjpeg-turbo is not $jpeg_version" >&2
      return 1
    }
  fi
  if [ ! -f "$prefix/lib/libjpeg.a" ]; then
    cmake -S "$src" -B "$third/libjpeg-build" -G Ninja -Wno-dev \
      -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
    cmake --build "$third/libjpeg-build" -j"$jobs" --target jpeg-static >/dev/null
    # Only the library was built, so its files are put in place by hand.
    mkdir -p "$prefix/lib" "$prefix/include"
    cp "$src"/{jpeglib.h,jmorecfg.h,jerror.h} "$third/libjpeg-build/jconfig.h" "$prefix/include/"
    cp "$third/libjpeg-build/libjpeg.a" "$prefix/lib/libjpeg.a"
  fi
  mkdir -p "$licenses"
  sed -n '/^; Copyright/,/^; 3\. /p' "$src/simd/nasm/jsimdext.inc" | sed 's/^; \{0,1\}//' >"$licenses/zlib-simd.txt"
  grep -q "This notice may not be removed" "$licenses/zlib-simd.txt" || {
    echo "build-windows.sh: no zlib licence in libjpeg-turbo's simd/nasm/jsimdext.inc" >&2
    return 1
  }
  cp "$src/LICENSE.md" "$licenses/"
  cp "$src/README.ijg" "$licenses/"
}

# The licence texts of the mingw-w64 runtime and of winpthreads, which the
# programs link statically, from the source package of the installed
# runtime: the runtime's own list of the notices that binaries must carry,
# and winpthreads' COPYING. (libgcc and libstdc++ come under the GCC Runtime
# Library Exception, which asks for no notice.)
fetch_runtime_licences() {
  local version licenses work tarball
  version=$(dpkg-query -W -f='${source:Version}' mingw-w64-x86-64-dev)
  licenses=$prefix/share/licenses/mingw-w64-${version%-*}
  [ -f "$licenses/COPYING.MinGW-w64-runtime.txt" ] && [ -f "$licenses/COPYING.winpthreads" ] && return 0
  work=$third/mingw-w64-source
  rm -rf "$work"
  mkdir -p "$work"
  (cd "$work" && apt_source --download-only "mingw-w64=$version") || {
    echo "build-windows.sh: apt-get source mingw-w64=$version failed" >&2
    return 1
  }
  tarball=$(find "$work" -maxdepth 1 -name 'mingw-w64_*.orig.tar.*' ! -name '*.asc' | head -n 1)
  tar -xf "$tarball" -C "$work" --wildcards --no-wildcards-match-slash \
    '*/COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt' '*/mingw-w64-libraries/winpthreads/COPYING'
  mkdir -p "$licenses"
  cp "$work"/*/COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt "$licenses/"
  cp "$work"/*/mingw-w64-libraries/winpthreads/COPYING "$licenses/COPYING.winpthreads"
  rm -rf "$work"
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
fetch_runtime_licences
rm -rf "$third/apt"
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
