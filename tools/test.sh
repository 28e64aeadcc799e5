#!/usr/bin/env bash
# Builds Morvane twice, plainly and with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs")

# The fuzz targets, instrumented, each for a short bounded run over a copy of
# its seed corpus; a crash fails the run and leaves its input in build-fuzz/.
if command -v clang++ >/dev/null; then
  cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_FUZZ=ON -DMORVANE_TESTS=OFF
  cmake --build build-fuzz -j"$jobs" --target bmp_fuzzer ini_fuzzer
  for target in bmp ini; do
    corpus=build-fuzz/corpus-$target
    rm -rf "$corpus" && mkdir -p "$corpus" && cp -r fuzz/corpus/$target/. "$corpus"/
    build-fuzz/${target}_fuzzer -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 \
      -artifact_prefix=build-fuzz/$target- "$corpus" fuzz/crashers/$target 2>&1 | tail -n 3
  done
fi
