#!/usr/bin/env bash
# Cost of the directory look-up in a batch: 5000 names typed in another
# letter case than stored against the same names typed exactly, and one
# bitmap 1500 folders deep.
#   bench/lookup.sh [NAMES] [DEPTH]      (defaults 5000 and 1500)
# Environment: BUILD (default: build/ beside this folder) holds morvane and
# libSaveJPG.so; WORK (default: a temporary folder) gets the bitmaps.
# Prints one line per case with the wall time of one run of the program.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
build="${BUILD:-$repo/build}"
names="${1:-5000}"
depth="${2:-1500}"
work="${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/morvane-lookup.XXXXXX")}"
mkdir -p "$work/bin"
cp "$build/morvane" "$build/libSaveJPG.so" "$work/bin/"
g++ -O2 -std=c++20 -o "$work/make_bmp" "$here/make_bmp.cpp"
"$work/make_bmp" 8 8 24 "$work/one.bmp"

# exact/pN.BMP typed as stored; other/pN.bmp typed PN.BMP.
python3 - "$work" "$names" "$depth" <<'PY'
import os, shutil, sys
work, names, depth = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for folder, stored in (("exact", "p{}.BMP"), ("other", "p{}.bmp")):
    path = os.path.join(work, folder)
    if os.path.isdir(path):
        continue
    os.makedirs(path)
    for i in range(1, names + 1):
        shutil.copyfile(os.path.join(work, "one.bmp"), os.path.join(path, stored.format(i)))
deep = os.path.join(work, "deep")
os.makedirs(deep, exist_ok=True)
for _ in range(depth):
    deep = os.path.join(deep, "d")
    os.makedirs(deep, exist_ok=True)
shutil.copyfile(os.path.join(work, "one.bmp"), os.path.join(deep, "a.BMP"))
PY

run() {
  local label=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$work/bin/morvane" "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  printf '%-34s %8.2f s\n' "$label" "$(echo "$end - $start" | bc)"
}

exact=()
other=()
for ((i = 1; i <= names; i++)); do
  exact+=("$work/exact/p$i.BMP")
  other+=("$work/other/P$i.BMP")
done
deep_name="$work/deep"
for ((i = 0; i < depth; i++)); do deep_name+="/d"; done
deep_name+="/a.BMP"

echo "lookup: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $names names, depth $depth, workers ${MORVANE_WORKERS:-all}" >&2
run "$names names typed exactly" "${exact[@]}"
run "$names names in another case" "${other[@]}"
run "1 name $depth folders deep" "$deep_name"
