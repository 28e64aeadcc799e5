#!/usr/bin/env bash
# Tries the Windows packages that tools/package-windows.sh made in DIST_DIR
# (default dist) under Wine, headless, with the Japanese locale:
#  - the zip holds exactly Morvane/ with Morvane.exe, SaveJPG.DLL,
#    README.txt, LICENSE.txt and THIRD-PARTY-NOTICES.txt (text files UTF-8
#    with a byte-order mark, CR LF line ends); LICENSE.txt is the project's
#    LICENSE, and the notices carry what the licences of libjpeg-turbo (its
#    LICENSE.md, the IJG's terms and statement, the zlib licence of its SIMD
#    code), the mingw-w64 runtime and winpthreads ask binaries to carry;
#  - the installer, silent, for the current user and for all users: the
#    files, the marker Morvane.installed, the Start menu and "Send to"
#    shortcuts and the Uninstall key are there (a Morvane.ini that an earlier
#    version saved beside a copy for the current user has moved to
#    %APPDATA%\Morvane); the installed Morvane.exe converts a bitmap (exit
#    status 0), once started directly and once through the "Send to"
#    shortcut; the silent uninstaller then leaves no program file, shortcut
#    or key, and leaves the settings (%APPDATA%\Morvane, a Morvane.ini beside
#    the program).
#
#   tools/check-windows-packages.sh [DIST_DIR]
#
# The Wine prefix is copied from the one tools/test-windows.sh keeps ready
# in build-windows/wine (made there when missing; MORVANE_WINE_DIR names
# another folder). The program's summary box is answered by a small helper
# (tests/win32/run_and_answer.cpp), built once into that folder. Run from the
# project root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dist_dir=${1:-dist}
dist=$(cd "$dist_dir" && pwd)
version=$(sed -n 's/^project(Morvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip=$dist/Morvane-$version-win64.zip
setup=$dist/Morvane-$version-setup.exe
for file in "$zip" "$setup"; do
  [ -f "$file" ] || {
    echo "check-windows-packages.sh: $file is missing; run tools/package-windows.sh first" >&2
    exit 1
  }
done

failures=0
fail() {
  echo "  FAILED: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "  ok: $*"; }

# No "." in the folder names: the program cuts a name at its first ".".
work=$(mktemp -d /tmp/morvane-packages-XXXXXX)
echo "The zip"
python3 - "$zip" "$work/zip" "$root/LICENSE" <<'EOF' || failures=$((failures + 1))
import sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
texts = ["README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"]
expected = ["Morvane/", "Morvane/Morvane.exe", "Morvane/SaveJPG.DLL"] + ["Morvane/" + t for t in texts]
names = archive.namelist()
faults = []
# What each text file must say (the notices: a line of each licence text,
# and the statement the IJG asks binaries to carry).
needed = {
    "README.txt": ["Morvane.ini", "%APPDATA%\\Morvane", "shell:sendto", "変換", "Exit status",
                   "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"],
    "LICENSE.txt": [open(sys.argv[3], encoding="utf-8").read()],
    "THIRD-PARTY-NOTICES.txt": [
        "This software is based in part on the work of the Independent JPEG Group.",
        "libjpeg-turbo is covered by three compatible BSD-style open source licenses",
        "Copyright (C)2009-2023 D. R. Commander.",
        "This software is copyright (C) 1991-2020, Thomas G. Lane, Guido Vollbeding.",
        "documentation must state that \"this software is based in part on the work of",
        "Copyright (C) 1999-2006, MIYASAKA Masaru.",
        "3. This notice may not be removed or altered from any source distribution.",
        "This program or library was built using MinGW-w64 and statically",
        "Copyright (c) 2011 mingw-w64 project",
        "(C) 2010 Lockless Inc.",
        "GCC Runtime Library Exception"],
}
if sorted(names) != sorted(expected):
    faults.append(f"it holds {names}, not {expected}")
else:
    archive.extractall(sys.argv[2])
    for name in texts:
        data = archive.read("Morvane/" + name)
        if not data.startswith(b"\xef\xbb\xbf"):
            faults.append(f"{name} has no UTF-8 byte-order mark")
        if data.count(b"\n") != data.count(b"\r\n") or data.count(b"\r") != data.count(b"\n"):
            faults.append(f"{name} has line ends other than CR LF")
        text = data.decode("utf-8-sig").replace("\r\n", "\n")
        for line in needed[name]:
            if line not in text:
                faults.append(f"{name} does not say {line[:60]!r}")
    for name in ("Morvane/Morvane.exe", "Morvane/SaveJPG.DLL"):
        if not archive.read(name).startswith(b"MZ"):
            faults.append(f"{name} is not a Windows program")
for fault in faults:
    print(f"  FAILED: {fault}", file=sys.stderr)
if not faults:
    print("  ok: Morvane/ with Morvane.exe, SaveJPG.DLL and", ", ".join(texts),
          "(UTF-8 with BOM, CR LF), the licence texts in them")
sys.exit(1 if faults else 0)
EOF

# True when the Windows program FILE carries the program's icon (the images
# of morvane.ico, stored as they are) and the version VERSION.0.0.
has_icon_and_version() {
  python3 - "$1" "$root/resources/morvane.ico" "$version" <<'EOF'
import struct, sys
program = open(sys.argv[1], "rb").read()
icon = open(sys.argv[2], "rb").read()
count = struct.unpack_from("<H", icon, 4)[0]
images = [icon[offset:offset + size] for size, offset in
          (struct.unpack_from("<II", icon, 6 + 16 * i + 8) for i in range(count))]
faults = [f"no {i + 1}. image of morvane.ico" for i, image in enumerate(images) if image not in program]
fixed = program.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO
major, minor = (int(n) for n in sys.argv[3].split("."))
wanted = struct.pack("<IIII", major << 16 | minor, 0, major << 16 | minor, 0)
if fixed < 0 or program[fixed + 8:fixed + 24] != wanted:
    faults.append(f"no version resource {sys.argv[3]}.0.0")
for fault in faults:
    print(f"  FAILED: {sys.argv[1].rsplit('/', 1)[-1]}: {fault}", file=sys.stderr)
sys.exit(1 if faults else 0)
EOF
}
echo "The installer's resources"
if has_icon_and_version "$setup"; then
  pass "$(basename "$setup"): the program's icon, version $version.0.0"
else
  failures=$((failures + 1))
fi

# shellcheck source=tools/wine-env.sh
. "$root/tools/wine-env.sh"
wine_env_install_missing g++-mingw-w64-x86-64
wine_dir=${MORVANE_WINE_DIR:-$root/build-windows/wine}
mkdir -p "$wine_dir"
wine_dir=$(cd "$wine_dir" && pwd)

helper=$wine_dir/run_and_answer.exe
helper_sources=("$root/tests/win32/run_and_answer.cpp" "$root/tests/win32/run_program.cpp"
  "$root/tests/win32/run_program.h")
if [ ! -f "$helper" ] || [ -n "$(find "${helper_sources[@]}" -newer "$helper")" ]; then
  x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -Werror -municode -static \
    -o "$helper" "$root/tests/win32/run_and_answer.cpp" "$root/tests/win32/run_program.cpp" -lole32 -luuid
fi

wine_env_setup "$wine_dir"
stop() {
  wine_env_stop
  rm -rf "$work"
}
trap stop EXIT
wine_env_start_display 1024x768x24
wine_env_use_prefix "$wine_dir/prefix-packages"

# Windows paths of the files outside the prefix (drive Z: is /).
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
unix_path() { winepath -u "$1" 2>/dev/null </dev/null; }
expand() { wine cmd /c echo "$1" 2>/dev/null </dev/null | tr -d '\r'; }
registry_value() { # KEY NAME: the value's data, or nothing
  wine reg query "$1" /v "$2" 2>/dev/null </dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# True when the shortcut names the program (its path is stored in UTF-16
# or in the ANSI code page).
names_program() {
  python3 - "$1" "$2" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read().lower()
path = sys.argv[2].lower()
sys.exit(0 if path.encode("utf-16-le") in data or path.encode("cp932") in data else 1)
EOF
}
run_and_answer() { # like the helper; prints the boxes indented
  local status=0
  wine "$helper" "$@" </dev/null 2>/dev/null | tr -d '\r' | sed 's/^/    box: /' || status=$?
  return "$status"
}

appdata=$(expand '%APPDATA%')
sendto=$(unix_path "$appdata\\Microsoft\\Windows\\SendTo")
settings_dir=$(unix_path "$appdata\\Morvane")
key_name='Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvane'
bitmap=$root/examples/Flag.BMP

check_install() { # MODE (CurrentUser or AllUsers)
  local mode=$1 hive install start_menu key folder name value expected status
  if [ "$mode" = AllUsers ]; then
    hive=HKLM
    install=$(expand '%ProgramW6432%')\\Morvane
    start_menu="$(expand '%ProgramData%')\\Microsoft\\Windows\\Start Menu\\Programs"
  else
    hive=HKCU
    install=$(expand '%LOCALAPPDATA%')\\Programs\\Morvane
    start_menu="$appdata\\Microsoft\\Windows\\Start Menu\\Programs"
  fi
  key="$hive\\$key_name"
  folder=$(unix_path "$install")
  start_menu=$(unix_path "$start_menu")
  echo "The installer, /S /$mode"

  # Settings that an earlier version saved beside a copy installed for the
  # current user move to that user's own folder.
  rm -rf "$settings_dir"
  if [ "$mode" = CurrentUser ]; then
    mkdir -p "$folder"
    printf '[Data]\r\nRate=40\r\n' >"$folder/Morvane.ini"
  fi
  status=0
  wine "$setup" /S "/$mode" </dev/null >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then pass "installed"; else fail "the installer ended with status $status"; fi
  if [ "$mode" = CurrentUser ]; then
    if [ -e "$folder/Morvane.ini" ] || ! grep -q '^Rate=40' "$settings_dir/Morvane.ini" 2>/dev/null; then
      fail "the earlier Morvane.ini beside the program did not move to %APPDATA%\\Morvane"
    else
      pass "the earlier Morvane.ini moved to %APPDATA%\\Morvane"
    fi
  fi
  for name in Morvane.exe SaveJPG.DLL README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt Morvane.installed uninstall.exe; do
    [ -f "$folder/$name" ] || fail "$install\\$name is missing"
  done
  for name in Morvane.exe SaveJPG.DLL README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
    cmp -s "$folder/$name" "$work/zip/Morvane/$name" || fail "the installed $name is not the zip's"
  done
  [ -f "$folder/uninstall.exe" ] && pass "files in $install"
  if [ "$mode" = CurrentUser ] && [ -f "$folder/uninstall.exe" ]; then
    if has_icon_and_version "$folder/uninstall.exe"; then
      pass "uninstall.exe: the program's icon, version $version.0.0"
    else
      failures=$((failures + 1))
    fi
  fi
  for name in "$start_menu/Morvane.lnk" "$sendto/Morvane.lnk"; do
    if [ ! -f "$name" ]; then
      fail "no shortcut $name"
    elif ! names_program "$name" "$install\\Morvane.exe"; then
      fail "the shortcut $name does not start $install\\Morvane.exe"
    else
      pass "shortcut $name"
    fi
  done
  for name in DisplayName DisplayVersion Publisher DisplayIcon UninstallString \
    QuietUninstallString InstallLocation EstimatedSize NoModify NoRepair; do
    value=$(registry_value "$key" "$name")
    case $name in
      DisplayVersion) expected=$version ;;
      DisplayIcon) expected="$install\\Morvane.exe,0" ;;
      UninstallString) expected="\"$install\\uninstall.exe\"" ;;
      QuietUninstallString) expected="\"$install\\uninstall.exe\" /S" ;;
      InstallLocation) expected=$install ;;
      NoModify | NoRepair) expected=0x1 ;;
      *) expected=$value ;;
    esac
    if [ -z "$value" ]; then
      fail "$key has no $name"
    elif [ "$value" != "$expected" ]; then
      fail "$key $name is $value, not $expected"
    fi
  done
  value=$(($(registry_value "$key" EstimatedSize)))
  [ "$value" -ge 1000 ] || fail "EstimatedSize $value is below 1000 KB"
  pass "key $key (DisplayVersion $(registry_value "$key" DisplayVersion), EstimatedSize $value KB)"

  # The installed program converts a bitmap, started directly and through
  # the "Send to" shortcut; its summary box is answered.
  local pictures=$work/$mode pictures_windows
  mkdir -p "$pictures"
  cp "$bitmap" "$pictures/Direct.BMP"
  cp "$bitmap" "$pictures/Sent.BMP"
  pictures_windows=$(windows_path "$pictures")
  status=0
  run_and_answer "$install\\Morvane.exe" "\"$install\\Morvane.exe\" $pictures_windows\\Direct.BMP" \
    "$pictures_windows" || status=$?
  if [ "$status" -eq 0 ] && [ "$(head -c 2 "$pictures/Direct.jpg" 2>/dev/null | od -An -tx1)" = " ff d8" ]; then
    pass "Morvane.exe converted Direct.BMP (exit status 0)"
  else
    fail "Morvane.exe on Direct.BMP: exit status $status, $(ls "$pictures")"
  fi
  status=0
  run_and_answer --shortcut "$appdata\\Microsoft\\Windows\\SendTo\\Morvane.lnk" \
    "$pictures_windows\\Sent.BMP" || status=$?
  if [ "$status" -eq 0 ] && [ "$(head -c 2 "$pictures/Sent.jpg" 2>/dev/null | od -An -tx1)" = " ff d8" ]; then
    pass "the Send to shortcut converted Sent.BMP (exit status 0)"
  else
    fail "the Send to shortcut on Sent.BMP: exit status $status, $(ls "$pictures")"
  fi

  # Settings the user saved: in the own folder, and (for the current user,
  # whose install folder is writable) beside the program.
  mkdir -p "$settings_dir"
  printf '[Data]\r\nRate=50\r\n' >"$settings_dir/Morvane.ini"
  [ "$mode" = CurrentUser ] && printf '[Data]\r\nRate=60\r\n' >"$folder/Morvane.ini"

  # The uninstaller copies itself to a temporary folder, starts the copy and
  # returns at once: wait until the copy has removed the key, its last step.
  echo "The uninstaller, /S"
  local failures_before=$failures
  status=0
  wine "$folder/uninstall.exe" /S </dev/null >/dev/null 2>&1 || status=$?
  [ "$status" -eq 0 ] || fail "the uninstaller ended with status $status"
  for _ in $(seq 150); do
    [ -z "$(registry_value "$key" DisplayName)" ] && break
    sleep 0.2
  done
  if [ "$mode" = CurrentUser ]; then
    value=$(find "$folder" -mindepth 1 -printf '%P ' 2>/dev/null)
    [ "$value" = "Morvane.ini " ] || fail "$install holds '$value', not just Morvane.ini"
    rm -f "$folder/Morvane.ini"
    rmdir "$folder"
  else
    [ ! -e "$folder" ] || fail "$install is left: $(find "$folder" -mindepth 1 -printf '%P ')"
  fi
  for name in "$start_menu/Morvane.lnk" "$sendto/Morvane.lnk"; do
    [ ! -e "$name" ] || fail "the shortcut $name is left"
  done
  ! wine reg query "$key" >/dev/null 2>&1 </dev/null || fail "the key $key is left"
  [ -f "$settings_dir/Morvane.ini" ] || fail "the settings in %APPDATA%\\Morvane are gone"
  rm -rf "$settings_dir"
  [ "$failures" -ne "$failures_before" ] || pass "nothing left but the user's settings"
}

check_install CurrentUser
check_install AllUsers

if [ "$failures" -ne 0 ]; then
  echo "check-windows-packages.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "check-windows-packages.sh: both packages are as they should be"
