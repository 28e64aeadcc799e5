#!/bin/bash
# `cmake --install` into a fresh prefix: the program, libSaveJPG.so and the
# window module side by side in lib/morvane, bin/morvane a link to the
# program, the desktop entry, the metainfo, the icons and the manual page in
# place; the program started through the link finds its encoder and converts
# a bitmap. The names that tie the installed files together agree: the
# window module gives its windows the desktop entry's name (how Wayland
# shells find their icon), and the metainfo's newest release is the
# program's version.
#   install_test.sh <cmake> <build folder> <bitmap>
set -u
cmake=$1
build_dir=$2
bitmap=$3
prefix=$(mktemp -d "${TMPDIR:-/tmp}/morvane-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

id=io.github.morvane.morvane
"$cmake" --install "$build_dir" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for file in lib/morvane/morvane lib/morvane/libSaveJPG.so lib/morvane/libmorvane-qt.so \
            share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
            share/icons/hicolor/scalable/apps/morvane.svg share/man/man1/morvane.1.gz; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for size in 16 32 48 64 128 256; do
  file=share/icons/hicolor/${size}x$size/apps/morvane.png
  [ -f "$prefix/$file" ] || fail "$file is not installed"
  # The PNG header's width and height (IHDR, bytes 16 to 23).
  [ "$(od -An -tx1 -j16 -N8 "$prefix/$file" | tr -d ' \n')" = "$(printf '%08x%08x' "$size" "$size")" ] ||
    fail "$file is not $size x $size pixels"
done
[ "$(readlink "$prefix/bin/morvane")" = ../lib/morvane/morvane ] || fail "bin/morvane is no link"
grep -q '^Exec=morvane %F$' "$prefix/share/applications/$id.desktop" || fail "Exec line"
python3 - "$prefix/lib/morvane/libmorvane-qt.so" "$id" <<'PY' || fail "the window module does not name its windows $id"
import sys
module, name = open(sys.argv[1], "rb").read(), sys.argv[2]
sys.exit(0 if name.encode() in module or name.encode("utf-16-le") in module else 1)
PY

mkdir "$prefix/pics"
cp "$bitmap" "$prefix/pics/A.BMP" || fail "no bitmap at $bitmap"
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/morvane" "$prefix/pics/A.BMP" >/dev/null ||
  fail "the installed program did not convert"
[ -s "$prefix/pics/A.jpg" ] || fail "no JPEG file"

version=$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/morvane" --version) || fail "morvane --version"
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$prefix/share/metainfo/$id.metainfo.xml" | head -n1)
[ "$version" = "Morvane $release" ] ||
  fail "the metainfo's newest release is \"$release\", the program says \"$version\""
# The marker of an installed copy lies beside the program, which then names
# the user's own settings file, even where its user may write into its folder.
[ -f "$prefix/lib/morvane/Morvane.installed" ] || fail "lib/morvane/Morvane.installed is not installed"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$prefix/config" "$prefix/bin/morvane" --help |
  grep -qxF "  $prefix/config/Morvane/Morvane.ini" || fail "--help does not name the user's own file"
echo "PASS"
