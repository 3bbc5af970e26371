#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# SECONDS (default 20): bash scripts/fuzz.sh [SECONDS] [TARGET...].
# Each target fuzzes a fresh copy of its seed corpus under build-fuzz/work/
# (QM_FUZZ_KEEP=1 keeps what earlier runs found instead); the committed
# corpus is never written. An input that crashes or breaks an
# invariant is copied into fuzz/crashes/<target>/, where the normal build's
# replay test picks it up, and the script ends with a non-zero status.
# The long run: bash scripts/fuzz.sh 600
# bash scripts/fuzz.sh --build: builds the targets only.
# bash scripts/fuzz.sh --prebuilt DIR SECONDS: runs the targets a build with
# QM_FUZZ already holds (the test command's sanitizer build) in DIR.
set -euo pipefail
cd "$(dirname "$0")/.."

build_only=0
build=build-fuzz
prebuilt=0
if [ "${1:-}" = --build ]; then
  build_only=1
  shift
elif [ "${1:-}" = --prebuilt ]; then
  build=$2
  prebuilt=1
  shift 2
fi
seconds="${1:-20}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(config filesbbs pathlist settings describe)

sanitize="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
build_targets=(--target dunzip)
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t"); done
mkdir -p "$build"
if [ "$prebuilt" = 0 ] &&
   ! bash scripts/build.sh "$build" -DCMAKE_C_COMPILER=clang \
       -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
       -DQM_FUZZ=ON -DQM_BUILD_GUI=OFF -DQM_BUILD_TESTS=OFF -DQM_WERROR=ON \
       "-DCMAKE_C_FLAGS=$sanitize" "-DCMAKE_CXX_FLAGS=$sanitize" \
       "${build_targets[@]}" \
       >"$build/build.log" 2>&1; then
  tail -n 30 "$build/build.log"
  echo "fuzz build failed"
  exit 1
fi
[ "$build_only" = 0 ] || exit 0

# Largest input per target: a few configuration records, a ZIP archive of a
# few kilobytes, a settings file with a value over 1023 characters.
declare -A max_len=([config]=5000 [filesbbs]=8192 [pathlist]=4096
                    [settings]=8192 [describe]=8192)

# The targets write a few small files per input: keep them in memory when
# the machine offers it, so disk write-back does not set the pace.
scratch=$(mktemp -d /dev/shm/quillmar-fuzz.XXXXXX 2>/dev/null ||
          mktemp -d "$PWD/$build/scratch.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failed=0
for t in "${targets[@]}"; do
  work="$build/work/$t"
  [ "${QM_FUZZ_KEEP:-0}" = 1 ] || rm -rf "$work/corpus"
  rm -rf "$work/artifacts"
  mkdir -p "$work/corpus" "$work/artifacts" "$scratch/$t"
  for seed in fuzz/corpus/"$t"/*; do
    [ -e "$work/corpus/${seed##*/}" ] || cp "$seed" "$work/corpus/"
  done
  status=0
  TMPDIR="$scratch/$t" LC_ALL=C QM_BIN_DIR="$PWD/$build/bin" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/fuzz_$t" "$work/corpus" -max_total_time="$seconds" \
    -rss_limit_mb=2048 -timeout=30 -max_len="${max_len[$t]}" \
    -dict="fuzz/dict/$t.dict" -artifact_prefix="$PWD/$work/artifacts/" \
    -print_final_stats=1 >"$work/log" 2>&1 || status=$?
  rm -rf "${scratch:?}/$t"
  cov=$(grep -E '^#[0-9]+' "$work/log" | grep 'cov:' | tail -1 |
        sed -E 's/.*(cov: [0-9]+ ft: [0-9]+ corp: [0-9]+\/[^ ]+).*/\1/')
  execs=$(sed -nE 's/^stat::number_of_executed_units: *//p' "$work/log")
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *//p' "$work/log")
  echo "fuzz_$t: ${execs:-?} runs, ${rate:-?} exec/s, ${cov:-no coverage line}"
  crashes=()
  for f in "$work"/artifacts/{crash,leak,timeout,oom}-*; do
    [ -e "$f" ] && crashes+=("$f")
  done
  if [ ${#crashes[@]} -gt 0 ] || [ "$status" -ne 0 ]; then
    failed=1
    mkdir -p "fuzz/crashes/$t"
    for f in "${crashes[@]}"; do
      cp "$f" "fuzz/crashes/$t/"
      echo "  kept fuzz/crashes/$t/${f##*/}"
    done
    echo "  fuzz_$t FAILED (status $status); log: $work/log"
    grep -E 'ERROR|invariant broken|SUMMARY' "$work/log" | head -5 | sed 's/^/  /'
  fi
done
exit "$failed"
