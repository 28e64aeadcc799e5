#!/usr/bin/env bash
# Cost of the directory look-up in a batch: NAMES names typed in another
# letter case than stored against the same names typed exactly, and one
# bitmap at each DEPTH folders deep (the deeper path runs through the
# shallower one's folders, so the two differ only in depth).
#   bench/lookup.sh [NAMES] [DEPTH]...      (defaults 5000, and 750 1500)
# Environment: BUILD (default: build/ beside this folder) holds morvane and
# libSaveJPG.so; WORK (default: a temporary folder) gets the bitmaps; RUNS
# (default 3) runs of each case. Prints one line per case with the median
# wall time of one run of the program, then the ratios: another case to
# exact, and each depth to the first.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
build="${BUILD:-$repo/build}"
names="${1:-5000}"
shift || true
depths=("$@")
[ ${#depths[@]} -gt 0 ] || depths=(750 1500)
runs="${RUNS:-3}"
work="${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/morvane-lookup-XXXXXX")}"
# The program reads a "." in a folder name as the end of a name.
case "$work" in *.*) echo "WORK must have no \".\" in its path: $work" >&2; exit 1 ;; esac
mkdir -p "$work/bin"
cp "$build/morvane" "$build/libSaveJPG.so" "$work/bin/"
g++ -O2 -std=c++20 -o "$work/make_bmp" "$here/make_bmp.cpp"
"$work/make_bmp" 8 8 24 "$work/one.bmp"

# exact/pN.BMP typed as stored; other/pN.bmp typed PN.BMP.
python3 - "$work" "$names" "${depths[@]}" <<'PY'
import os, shutil, sys
work, names, depths = sys.argv[1], int(sys.argv[2]), [int(d) for d in sys.argv[3:]]
for folder, stored in (("exact", "p{}.BMP"), ("other", "p{}.bmp")):
    path = os.path.join(work, folder)
    if os.path.isdir(path):
        continue
    os.makedirs(path)
    for i in range(1, names + 1):
        shutil.copyfile(os.path.join(work, "one.bmp"), os.path.join(path, stored.format(i)))
for depth in depths:
    deep = os.path.join(work, "deep", *(["d"] * depth))
    os.makedirs(deep, exist_ok=True)
    shutil.copyfile(os.path.join(work, "one.bmp"), os.path.join(deep, "a.BMP"))
PY

# Median wall time in seconds of RUNS runs of the program.
time_runs() {
  local times=() start end
  for ((r = 0; r < runs; r++)); do
    start=$(date +%s.%N)
    "$work/bin/morvane" "$@" >/dev/null 2>&1 || { echo "lookup: morvane failed on $1" >&2; exit 1; }
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -g | awk '{ t[NR] = $1 } END { print (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

exact=()
other=()
for ((i = 1; i <= names; i++)); do
  exact+=("$work/exact/p$i.BMP")
  other+=("$work/other/P$i.BMP")
done

echo "lookup: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $names names, depths ${depths[*]}, $runs runs, workers ${MORVANE_WORKERS:-all}" >&2
t_exact=$(time_runs "${exact[@]}")
printf '%-34s %8.3f s\n' "$names names typed exactly" "$t_exact"
t_other=$(time_runs "${other[@]}")
printf '%-34s %8.3f s\n' "$names names in another case" "$t_other"
t_deep=()
for depth in "${depths[@]}"; do
  deep_name="$work/deep"
  for ((i = 0; i < depth; i++)); do deep_name+="/d"; done
  deep_name+="/a.BMP"
  t=$(time_runs "$deep_name")
  t_deep+=("$t")
  printf '%-34s %8.3f s\n' "1 name $depth folders deep" "$t"
done
printf '%-34s %8.2f\n' "another case / exactly" "$(echo "$t_other / $t_exact" | bc -l)"
for ((i = 1; i < ${#depths[@]}; i++)); do
  printf '%-34s %8.2f\n' "depth ${depths[i]} / depth ${depths[0]}" "$(echo "${t_deep[i]} / ${t_deep[0]}" | bc -l)"
done
