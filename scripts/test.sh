#!/usr/bin/env bash
# Sets up, checks the layout, builds and runs every test: the normal build,
# then the same suite built with the address and undefined-behaviour
# sanitizers. Both builds treat compiler warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen LC_ALL=C

# Every tracked C++ file as .clang-format lays it out.
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=ON
(cd build && ctest --output-on-failure -j2 --timeout 300)

bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON \
  -DQM_WERROR=ON
(cd build-asan && ctest --output-on-failure -j2 --timeout 600)

# Each fuzz target for a short fixed time (clang build in build-fuzz/).
bash scripts/fuzz.sh 15
