#!/usr/bin/env bash
# Checks the format, builds Morvane twice, plainly and with AddressSanitizer
# and UndefinedBehaviorSanitizer, warnings as errors, runs every test in both
# builds, then runs each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Every source as .clang-format wants it.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

# Includes follow the direction of the rooms.
python3 tools/check_layers.py

# Every test has a time limit, so a dialog that nobody answers cannot hang
# the run.
run_tests() {
  local dir=$1
  shift
  python3 tools/check_test_timeouts.py "$dir"
  (cd "$dir" && "$@" ctest --output-on-failure -j"$jobs")
}

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_WERROR=ON
cmake --build build -j"$jobs"
run_tests build

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_WERROR=ON
cmake --build build-sanitize -j"$jobs"
run_tests build-sanitize env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

# The fuzz targets, instrumented, each for a bounded run over a copy of its
# seed corpus (FUZZ_SECONDS each, 40 unless set). Any finding (a crash, a
# leak, undefined behaviour, a JPEG of the recoder's that differs from
# libjpeg's) fails the run and leaves its input and the whole log in
# build-fuzz/.
if ! command -v clang++ >/dev/null; then
  echo "test.sh: clang++ is missing, so the fuzz targets cannot run (tools/install-deps.sh installs it)" >&2
  exit 1
fi
targets=(bmp ini command_line recoder)
cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_FUZZ=ON -DMORVANE_TESTS=OFF -DMORVANE_WERROR=ON
cmake --build build-fuzz -j"$jobs" --target "${targets[@]/%/_fuzzer}"
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus-$target
  log=build-fuzz/$target.log
  rm -rf "$corpus" && mkdir -p "$corpus" && cp -r fuzz/corpus/$target/. "$corpus"/
  if build-fuzz/${target}_fuzzer -max_total_time="${FUZZ_SECONDS:-40}" -timeout=10 \
       -artifact_prefix=build-fuzz/$target- "$corpus" fuzz/crashers/$target >"$log" 2>&1; then
    tail -n 1 "$log"
  else
    tail -n 40 "$log" >&2
    echo "test.sh: the $target fuzz target found a fault; whole log in $log" >&2
    exit 1
  fi
done
