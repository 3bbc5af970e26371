#!/usr/bin/env bash
# Sets up, checks the layout, builds and runs every test: the normal build
# (gcc), then the core tests and a few end-to-end runs built with the address
# and undefined-behaviour sanitizers (clang), beside each fuzz target
# briefly. Every build treats compiler warnings as errors.
#
# Most of the normal suite waits on the program's one-second timers, so the
# sanitizer build compiles (at low priority) while it runs, and ctest runs
# more tests at once than there are cores.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen LC_ALL=C
jobs=$(($(nproc) * 3))

# Every tracked C++ file as .clang-format lays it out.
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=ON

# The sanitizer build, with clang, holds what the sanitizer run needs (the
# core tests, labelled "core", and the programs of the end-to-end runs) and
# the fuzz targets: the libraries are compiled once for both, at -O1 so the
# fuzz targets run about as fast as in their own optimized build. Line
# tables are all the sanitizers' reports need of the debug information.
mkdir -p build-asan
sanitize="-O1 -fsanitize=fuzzer-no-link"
nice -n 15 bash scripts/build.sh build-asan -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON \
  -DQM_FUZZ=ON -DQM_WERROR=ON "-DCMAKE_C_FLAGS=$sanitize" \
  "-DCMAKE_CXX_FLAGS=$sanitize" -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only \
  -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only --target unit_tests \
  --target e2e_tests --target fuzz_programs >build-asan/build.log 2>&1 &
asan=$!
# Waits for a background build; on failure shows the end of its log.
built() {
  wait "$1" && return 0
  tail -n 40 "$2"
  echo "failed: $2"
  return 1
}

status=0
(cd build && ctest --output-on-failure -j"$jobs" --timeout 300) || status=1
built $asan build-asan/build.log || status=1
[ "$status" = 0 ] || exit 1

# Under the sanitizers, while each fuzz target runs for a short fixed time:
# every core test, and the end-to-end runs of the nightly job, of every
# action and of the extras (the real program with its windows, run driver, actions, host and
# ZIP library in one process).
(cd build-asan &&
  ctest --output-on-failure -j"$jobs" --timeout 600 -L core &&
  ctest --output-on-failure -j"$jobs" --timeout 600 \
    -R '^(NightlyAdd|Actions|Extras)\.') &
sanitized=$!
bash scripts/fuzz.sh --prebuilt build-asan 15 || status=1
wait $sanitized || status=1
exit "$status"
