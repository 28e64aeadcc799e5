#!/usr/bin/env bash
# Installs the Debian package on this machine and checks it as a user would
# meet it: lintian finds no error or warning; the files are in place; the
# AppStream metainfo and the desktop entry pass appstreamcli (--pedantic)
# and desktop-file-validate without a remark, and so does the unpacked
# package as a tree (the metainfo's desktop entry is there); a normal user
# converts a bitmap through /usr/bin/morvane; `morvane --version`
# names the version; root's settings file is root's own; the user's Save in the settings window (on Xvfb) writes
# ~/.config/Morvane/Morvane.ini; removing the package takes the program
# away and leaves the user's settings; purging takes a settings file that
# root saved beside the program too.
#
# It installs and purges the package `morvane` and creates (and deletes)
# the user `morvane-check`, so it runs only as root and only with CI=1 or
# --yes: meant for a fresh Debian 12 in CI, or a machine you can spare.
#   tools/check-deb.sh [--yes] dist/morvane_1.26-1_amd64.deb
set -uo pipefail

yes=${CI:-0}
if [ "${1:-}" = --yes ]; then
  yes=1
  shift
fi
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: tools/check-deb.sh [--yes] dist/morvane_<version>_amd64.deb" >&2
  exit 2
fi
if [ "$yes" != 1 ]; then
  echo "check-deb.sh installs and purges the package morvane and creates the user" >&2
  echo "morvane-check on this machine; run it with CI=1 or --yes to agree." >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "check-deb.sh must run as root (it installs the package)." >&2
  exit 2
fi

deb=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
user=morvane-check
home=/home/$user
version=$(dpkg-deb --field "$deb" Version)
expected_version="Morvane ${version%-*}"
export DEBIAN_FRONTEND=noninteractive

failures=()
fail() {
  echo "FAIL: $*"
  failures+=("$*")
}
pass() { echo "ok: $*"; }
# Runs a command as the check's user, in a clean environment of their own.
as_user() {
  runuser -u "$user" -- env -i HOME="$home" USER="$user" LOGNAME="$user" \
    PATH=/usr/local/bin:/usr/bin:/bin LANG=C.UTF-8 "$@"
}

xvfb_pid=
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
  fi
  apt-get purge -y -qq morvane >/dev/null 2>&1
  userdel -r "$user" >/dev/null 2>&1
}
trap cleanup EXIT

# What the checks use, when missing; the package lists only when they are
# empty (a fresh container).
tools=()
command -v lintian >/dev/null || tools+=(lintian)
command -v Xvfb >/dev/null || tools+=(xvfb)
command -v xdotool >/dev/null || tools+=(xdotool)
command -v appstreamcli >/dev/null || tools+=(appstream)
command -v desktop-file-validate >/dev/null || tools+=(desktop-file-utils)
if ! ls /var/lib/apt/lists/*_Packages >/dev/null 2>&1; then apt-get update -qq; fi
if [ ${#tools[@]} -gt 0 ]; then
  apt-get install -y -qq --no-install-recommends "${tools[@]}" >/dev/null || exit 1
fi

# A user of our own, afresh (a run cut short may have left one behind).
userdel -r "$user" >/dev/null 2>&1
useradd -m "$user" || exit 1

echo "== lintian (${SECONDS}s)"
cp "$deb" "$home/" && chown "$user:" "$home/$(basename "$deb")"
# lintian warns when run as root: the user runs it.
if as_user lintian --fail-on error,warning --display-info "$home/$(basename "$deb")"; then
  pass "lintian: no error or warning"
else
  fail "lintian found errors or warnings (above)"
fi

echo "== install (${SECONDS}s)"
apt-get install -y -qq "$deb" >/dev/null || { echo "FAIL: apt-get install $deb"; exit 1; }
id=io.github.morvane.morvane
for file in /usr/lib/morvane/morvane /usr/lib/morvane/libSaveJPG.so \
            /usr/lib/morvane/libmorvane-qt.so /usr/share/applications/$id.desktop \
            /usr/share/metainfo/$id.metainfo.xml /usr/share/man/man1/morvane.1.gz \
            /usr/share/icons/hicolor/scalable/apps/morvane.svg \
            /usr/share/doc/morvane/copyright /usr/share/doc/morvane/changelog.Debian.gz; do
  [ -f "$file" ] || fail "$file is not installed"
done
for size in 16 32 48 64 128 256; do
  [ -f "/usr/share/icons/hicolor/${size}x$size/apps/morvane.png" ] ||
    fail "the ${size}x$size icon is not installed"
done
[ "$(readlink /usr/bin/morvane)" = ../lib/morvane/morvane ] ||
  fail "/usr/bin/morvane is not a link to ../lib/morvane/morvane"

echo "== the metainfo and the desktop entry (${SECONDS}s)"
# A remark of any kind (error, warning, info or pedantic hint) fails.
remarks() { grep -E '^ *[EWIP]: ' || true; }
got=$(appstreamcli validate --pedantic --no-net "/usr/share/metainfo/$id.metainfo.xml" 2>&1)
status=$?
if [ "$status" -eq 0 ] && [ -z "$(remarks <<<"$got")" ]; then
  pass "appstreamcli validate --pedantic: no remark"
else
  fail "appstreamcli validate --pedantic (status $status): $got"
fi
# As a tree: the metainfo's launchable desktop entry is in the package too.
tree=$(mktemp -d)
dpkg-deb -x "$deb" "$tree"
got=$(appstreamcli validate-tree --pedantic --no-net "$tree" 2>&1)
status=$?
rm -rf "$tree"
if [ "$status" -eq 0 ] && [ -z "$(remarks <<<"$got")" ]; then
  pass "appstreamcli validate-tree --pedantic on the unpacked package: no remark"
else
  fail "appstreamcli validate-tree --pedantic (status $status): $got"
fi
got=$(desktop-file-validate "/usr/share/applications/$id.desktop" 2>&1)
status=$?
if [ "$status" -eq 0 ] && [ -z "$got" ]; then
  pass "desktop-file-validate: no remark"
else
  fail "desktop-file-validate (status $status): $got"
fi

echo "== a user converts a bitmap through /usr/bin/morvane (${SECONDS}s)"
mkdir "$home/pics"
cp "$repo/examples/Evening Sky.BMP" "$home/pics/" && chown -R "$user:" "$home/pics"
as_user /usr/bin/morvane "$home/pics/Evening Sky.BMP" >"$home/out" 2>"$home/err"
status=$?
if [ "$status" -ne 0 ]; then
  fail "morvane ended with $status converting a bitmap: $(cat "$home/out" "$home/err")"
elif [ "$(head -c 3 "$home/pics/Evening Sky.jpg" 2>/dev/null | od -An -tx1 | tr -d ' ')" != ffd8ff ]; then
  fail "no JPEG file beside the bitmap"
else
  pass "converted, status 0"
fi

# Needs the program's --help/--version options.
echo "== morvane --version (${SECONDS}s)"
got=$(as_user /usr/bin/morvane --version 2>&1)
if [ "$got" = "$expected_version" ]; then
  pass "--version: $got"
else
  fail "[--version] morvane --version printed \"$got\", not \"$expected_version\""
fi

# An installed copy: root's settings, like anyone's, in root's own folder.
echo "== root's settings file (${SECONDS}s)"
[ -f /usr/lib/morvane/Morvane.installed ] || fail "/usr/lib/morvane/Morvane.installed is not installed"
got=$(env -u XDG_CONFIG_HOME HOME=/root /usr/bin/morvane --help 2>&1 | sed -n '/^設定ファイル/{n;p}')
if [ "$got" = "  /root/.config/Morvane/Morvane.ini" ]; then
  pass "root's settings file: ${got# }"
else
  fail "[per-user settings] morvane --help as root names \"$got\", not /root/.config/Morvane/Morvane.ini"
fi

# Needs the settings file per user when the program's folder is not
# writable ($XDG_CONFIG_HOME/Morvane/Morvane.ini).
echo "== the user's Save in the settings window (${SECONDS}s)"
as_user bash -c '
  echo $$ >"$HOME/xvfb.pid"
  exec 3>"$HOME/display"
  exec Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 2>"$HOME/xvfb.log"
' &
for _ in $(seq 50); do [ -s "$home/display" ] && break; sleep 0.1; done
xvfb_pid=$(cat "$home/xvfb.pid" 2>/dev/null)
if [ ! -s "$home/display" ]; then
  fail "Xvfb did not start: $(cat "$home/xvfb.log")"
else
  if ! as_user DISPLAY=":$(head -n1 "$home/display")" bash -c '
    /usr/bin/morvane >"$HOME/window.out" 2>"$HOME/window.err" &
    app=$!
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "^Morvane <設定>$" | head -n1)
    [ -n "$window" ] || { echo "no settings window; stderr: $(cat "$HOME/window.err")"; exit 1; }
    xdotool windowfocus --sync "$window"
    for _ in $(seq 200); do
      [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] && break
      sleep 0.05
    done
    xdotool key Return
    for _ in $(seq 100); do kill -0 $app 2>/dev/null || break; sleep 0.1; done
    if kill -0 $app 2>/dev/null; then
      kill $app
      echo "Save (Return) did not end the program"
      exit 1
    fi
    wait $app || { echo "the program ended with $?: $(cat "$HOME/window.err")"; exit 1; }
  '; then
    fail "[per-user settings] the settings window (above)"
  fi
  kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  xvfb_pid=
  if [ -f "$home/.config/Morvane/Morvane.ini" ] && grep -q '^Rate=' "$home/.config/Morvane/Morvane.ini"; then
    pass "Save wrote $home/.config/Morvane/Morvane.ini"
  else
    fail "[per-user settings] Save did not write $home/.config/Morvane/Morvane.ini"
  fi
  [ -e /usr/lib/morvane/Morvane.ini ] && fail "a user's Save wrote /usr/lib/morvane/Morvane.ini"
fi

echo "== remove, then purge (${SECONDS}s)"
as_user sh -c 'mkdir -p "$HOME/.config/Morvane" && echo kept >"$HOME/.config/Morvane/kept"'
apt-get remove -y -qq morvane >/dev/null || fail "apt-get remove morvane"
[ -e /usr/lib/morvane ] && fail "/usr/lib/morvane is left after remove"
[ -e /usr/bin/morvane ] || [ -L /usr/bin/morvane ] && fail "/usr/bin/morvane is left after remove"
[ -f "$home/.config/Morvane/kept" ] || fail "remove took the user's ~/.config/Morvane"
# Settings that root saved beside the program stay on remove and go on purge.
apt-get install -y -qq "$deb" >/dev/null || fail "apt-get install again"
echo "[Data]" >/usr/lib/morvane/Morvane.ini
apt-get remove -y -qq morvane >/dev/null 2>&1
[ -f /usr/lib/morvane/Morvane.ini ] || fail "remove took root's settings file"
apt-get purge -y -qq morvane >/dev/null || fail "apt-get purge morvane"
[ -e /usr/lib/morvane ] && fail "/usr/lib/morvane is left after purge"
[ -f "$home/.config/Morvane/kept" ] || fail "purge took the user's ~/.config/Morvane"

echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "check-deb.sh: ${#failures[@]} check(s) failed (${SECONDS}s):"
  printf '  %s\n' "${failures[@]}"
  echo "([--version] needs the program's --version option; [per-user settings] needs"
  echo " its settings file in ~/.config/Morvane when its folder is not writable.)"
  exit 1
fi
echo "check-deb.sh: PASS (${SECONDS}s)"
