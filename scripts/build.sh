#!/usr/bin/env bash
# Builds Quillmar: build.sh DIR [CMake options...] [--target T...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
shift || true
options=()
targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--target" ]; then
    targets+=(--target "$2")
    shift 2
  else
    options+=("$1")
    shift
  fi
done
launcher=()
# Paths relative to the checkout, and the build directory left out of the
# key of objects with debug information, so a clone in another folder reuses
# the cache (a hit's debug information names the folder it was made in).
# Precompiled headers are cached only when their macros and the time macros
# are not held against them. Depend mode takes the headers from the
# compiler's dependency file instead of running the preprocessor once more
# on every miss (a sixth of a cold build).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true CCACHE_DEPEND=true
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
command -v ccache >/dev/null &&
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# Ninja starts faster and schedules two cores better than make; an existing
# build directory keeps the generator it was made with.
generator=()
[ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "${launcher[@]}" "${options[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
