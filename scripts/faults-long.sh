#!/usr/bin/env bash
# The long failure and crash run (tens of minutes; the test command runs
# short versions of both):
#   - every host, file and ZIP call of the reference job failing in turn,
#   - QM_CRASH_KILLS (default 300) kills of the real program at random
#     points of the job (adds by a scan and a path list, with the extras on
#     for every other job, a FILES.BBS import, moves, copies, deletes, a
#     listing), with the seed QM_CRASH_SEED when set, else a new random one
#     (the normal suite keeps one fixed seed).
# Usage: faults-long.sh [BUILD_DIR]   (default: build, made if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
export QT_QPA_PLATFORM=offscreen LC_ALL=C
bash scripts/build.sh "$dir" --target unit_tests --target e2e_tests

QM_FAULTS_ALL=1 "$dir/tests/unit_tests" \
  --gtest_filter='FaultInjection.*:CrashRepair.*:HostileArchive.*'
seed="${QM_CRASH_SEED:-$(od -An -N6 -tu8 /dev/urandom | tr -d ' ')}"
echo "QM_CRASH_SEED=$seed"
QM_CRASH_KILLS="${QM_CRASH_KILLS:-300}" QM_CRASH_SEED="$seed" "$dir/tests/e2e_tests" \
  --gtest_filter='CrashSafety.*'
