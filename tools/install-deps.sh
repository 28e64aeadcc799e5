#!/usr/bin/env bash
# Installs what building, running and testing Morvane needs (Debian 12).
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake clang libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev
  libjpeg62-turbo-dev libjpeg-turbo-progs
  qt6-base-dev qt6-translations-l10n fonts-vlgothic
  xvfb xauth x11-utils xdotool imagemagick
  time python3
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
