#!/usr/bin/env bash
# Installs what building, running and testing Morvane needs (Debian 12):
# compilers, fuzzing and format check; GoogleTest; libjpeg; Qt, its Japanese
# texts and a Japanese font; Xvfb and xdotool for the window's end-to-end
# test, ImageMagick for its screenshot and the benchmark; cjpeg and GNU time
# for the benchmark. Does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake clang libclang-rt-14-dev clang-format python3
  libgtest-dev
  libjpeg62-turbo-dev
  qt6-base-dev qt6-translations-l10n fonts-vlgothic
  xvfb xdotool imagemagick
  libjpeg-turbo-progs time
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
