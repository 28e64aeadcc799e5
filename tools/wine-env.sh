# shellcheck shell=bash
# Sourced (not run) by the scripts that run the Windows build under Wine,
# headless: a private Xvfb, a Japanese locale (so the ANSI code page is 932,
# as on the program's own systems) and a Wine prefix made once in WINE_DIR
# and copied for every run.
#
#   . tools/wine-env.sh
#   wine_env_setup WINE_DIR          # the locale and Wine's variables
#   trap wine_env_stop EXIT
#   wine_env_start_display [SCREEN]  # Xvfb, DISPLAY (SCREEN like 1024x768x24)
#   wine_env_use_prefix PREFIX       # a fresh copy of WINE_DIR/prefix-ready
#
# wine_env_install_missing installs Wine, Xvfb and the fonts when missing.

wine_env_dir=
wine_env_xvfb_pid=

wine_env_install_missing() {
  local missing=() package sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  for package in wine64 wine fonts-wine fonts-vlgothic xvfb locales "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "wine-env.sh: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

# The Japanese locale, made in WINE_DIR (no root needed), and the variables
# every Wine call of the scripts shares.
wine_env_setup() {
  wine_env_dir=$1
  if [ ! -d "$wine_env_dir/locale/ja_JP.UTF-8" ]; then
    mkdir -p "$wine_env_dir/locale"
    localedef -i ja_JP -f UTF-8 "$wine_env_dir/locale/ja_JP.UTF-8" 2>/dev/null ||
      [ -d "$wine_env_dir/locale/ja_JP.UTF-8" ]
  fi
  unset LC_ALL LANGUAGE
  export LOCPATH=$wine_env_dir/locale LANG=ja_JP.UTF-8 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# A display of our own; Xvfb tells its number once it listens. The pipe
# stays open while it runs, or Xvfb may end and Wine lose its display.
wine_env_start_display() {
  local screen=${1:-1024x768x24} display_number
  coproc WINE_ENV_XVFB { exec Xvfb -displayfd 1 -screen 0 "$screen" -nolisten tcp -noreset 2>/dev/null; }
  # shellcheck disable=SC2153  # set by coproc
  wine_env_xvfb_pid=$WINE_ENV_XVFB_PID
  read -r -t 30 display_number <&"${WINE_ENV_XVFB[0]}"
  export DISPLAY=:$display_number
}

wine_env_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then wineserver -k 2>/dev/null || true; fi
  if [ -n "$wine_env_xvfb_pid" ]; then kill "$wine_env_xvfb_pid" 2>/dev/null || true; fi
  wine_env_xvfb_pid=
}

# The prefix is made once (ten seconds) and copied for every run (one
# second). Windows come and go at once without a window manager, and a
# crash is an exit status, not a dialog. Needs the display.
wine_env_ready_prefix() {
  local ready=$wine_env_dir/prefix-ready fonts
  [ -f "$ready/.morvane-ready" ] && return 0
  rm -rf "$ready"
  (
    # shellcheck disable=SC2030  # this prefix only for these calls
    export WINEPREFIX=$ready
    wine wineboot -i >/dev/null 2>&1 </dev/null
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
  )
  fonts=$ready/drive_c/windows/Fonts
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
  cp /usr/share/fonts/truetype/vlgothic/*.ttf "$fonts/" 2>/dev/null || true
  touch "$ready/.morvane-ready"
}

# A fresh copy of the ready prefix at PREFIX, made the current one. Wine's
# services inherit the output of the first call: they are started here with
# everything sent away, so later calls can be captured.
wine_env_use_prefix() {
  wine_env_ready_prefix
  # shellcheck disable=SC2031
  export WINEPREFIX=$1
  rm -rf "$WINEPREFIX"
  cp -a "$wine_env_dir/prefix-ready" "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1
  wine cmd /c exit >/dev/null 2>&1 </dev/null
}
