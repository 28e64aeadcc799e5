#!/usr/bin/env bash
# Builds the Debian package: a Release build without the tests in
# build-package/, then `cpack -G DEB`, which leaves
# dist/morvane_<version>-<release>_amd64.deb. It needs only what
# tools/install-deps.sh installs and installs nothing itself; the Windows
# packages are their own step (tools/package-windows.sh).
#   tools/package.sh            (after tools/install-deps.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in cmake cpack dpkg-buildflags dpkg-shlibdeps gzip; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (tools/install-deps.sh installs it)" >&2; exit 1; }
done

# Debian's hardening flags (stack protector, fortified functions, read-only
# relocations bound at start), as Debian's own packages are built.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
build="build-package"
# The package links the system's libjpeg-turbo (libjpeg62-turbo) rather
# than a copy of it in libSaveJPG.so, so that Debian's updates of that
# library reach it; a build from source carries its own copy, which starts
# a little faster.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF -DMORVANE_WERROR=ON \
  -DMORVANE_JPEG_STATIC_LIBRARY= \
  -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)"
cmake --build "$build" -j2
# CPack stages in build-package/cpack; only the package goes to dist/.
rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$PWD/cpack")
mkdir -p dist
mv "$build"/cpack/*.deb dist/
ls -l dist/*.deb
