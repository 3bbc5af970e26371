#!/usr/bin/env bash
# Sets up, builds, lays out the demo host and runs the nightly job on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  --target quillmar --target wcserver --target dunzip --target manual

demo="$PWD/build/demo"
bin=$(python3 scripts/make_demo.py build "$demo")
home="$bin/host"

echo "== Running: $bin/quillmar nightly.cfg"
set +e
"$bin/quillmar" nightly.cfg
code=$?
set -e
echo "== quillmar ended with exit code $code"

for area in 1 3; do
  echo "== Records of area $area ($home):"
  "$bin/wcserver" file list "$home" --area "$area"
done
echo "== Stored files:"
ls -l "$home/files/uploads" "$home/files/utils"
echo "== Run log $bin/nightly.err:"
cat "$bin/nightly.err" 2>/dev/null || echo "(no problems logged)"
echo "== Listing $home/files/uploads/Files.BBS:"
cat "$home/files/uploads/Files.BBS" 2>/dev/null || echo "(no listing written)"
