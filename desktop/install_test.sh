#!/bin/bash
# `cmake --install` into a fresh prefix: the program, libSaveJPG.so and the
# window module side by side in lib/morvane, bin/morvane a link to the
# program, the desktop entry, the icons and the manual page in place; the program started
# through the link finds its encoder and converts a bitmap.
#   install_test.sh <cmake> <build folder> <bitmap>
set -u
cmake=$1
build_dir=$2
bitmap=$3
prefix=$(mktemp -d "${TMPDIR:-/tmp}/morvane-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$cmake" --install "$build_dir" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
for file in lib/morvane/morvane lib/morvane/libSaveJPG.so lib/morvane/libmorvane-qt.so \
            share/applications/morvane.desktop share/icons/hicolor/16x16/apps/morvane.png \
            share/icons/hicolor/32x32/apps/morvane.png share/man/man1/morvane.1.gz; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
[ "$(readlink "$prefix/bin/morvane")" = ../lib/morvane/morvane ] || fail "bin/morvane is no link"
grep -q '^Exec=morvane %F$' "$prefix/share/applications/morvane.desktop" || fail "Exec line"

mkdir "$prefix/pics"
cp "$bitmap" "$prefix/pics/A.BMP" || fail "no bitmap at $bitmap"
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/morvane" "$prefix/pics/A.BMP" >/dev/null ||
  fail "the installed program did not convert"
[ -s "$prefix/pics/A.jpg" ] || fail "no JPEG file"
# The marker of an installed copy lies beside the program, which then names
# the user's own settings file, even where its user may write into its folder.
[ -f "$prefix/lib/morvane/Morvane.installed" ] || fail "lib/morvane/Morvane.installed is not installed"
env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="$prefix/config" "$prefix/bin/morvane" --help |
  grep -qxF "  $prefix/config/Morvane/Morvane.ini" || fail "--help does not name the user's own file"
echo "PASS"
