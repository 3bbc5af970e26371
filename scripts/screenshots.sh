#!/usr/bin/env bash
# Renders the manual's pictures of the real windows: builds the window tests
# and runs them offscreen, then keeps in docs/Help/images exactly the
# pictures that docs/Help/Manual.htm shows.
#   screenshots.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
tests=(MainWindowTest CfgToolTest SmallWindowsTest SetupDlgTest)

targets=()
for t in "${tests[@]}"; do targets+=(--target "$t"); done
bash scripts/build.sh "$dir" "${targets[@]}"

shots=$(mktemp -d)
trap 'rm -rf "$shots"' EXIT
for t in "${tests[@]}"; do
  echo "screenshots: $t"
  QM_SCREENS_DIR="$shots" QT_QPA_PLATFORM=offscreen LC_ALL=C \
    "$dir/tests/$t" >"$shots/$t.log" 2>&1 || {
    cat "$shots/$t.log"
    echo "screenshots: $t failed" >&2
    exit 1
  }
done

# The web listing as a browser shows it, on a desktop and on a phone.
if command -v chromium >/dev/null; then
  bash scripts/build.sh "$dir" --target quillmar --target wcserver \
    --target dunzip --target manual
  listing=$(python3 scripts/make_web_demo.py "$dir" "$shots/web")
  for size in "Desktop 1100,760" "Phone 390,760"; do
    set -- $size
    chromium --headless --no-sandbox --disable-gpu --hide-scrollbars \
      --window-size="$2" --screenshot="$shots/WebListing-$1.png" \
      "file://$listing" >"$shots/chromium.log" 2>&1 || {
      cat "$shots/chromium.log"
      exit 1
    }
  done
else
  echo "screenshots: no chromium (bash scripts/setup.sh --screenshots):" \
    "the web listing's pictures stay as they are" >&2
  cp docs/Help/images/WebListing-*.png "$shots/"
fi

images=docs/Help/images
names=$(grep -o 'src="images/[^"]*\.png"' docs/Help/Manual.htm |
  sed 's/^src="images\///; s/"$//' | sort -u)
for name in $names; do
  if [ ! -f "$shots/$name" ]; then
    echo "screenshots: the manual shows $name, which no window test renders" >&2
    exit 1
  fi
done
# Only now, with every picture at hand, are the old ones replaced.
mkdir -p "$images"
rm -f "$images"/*.png
for name in $names; do cp "$shots/$name" "$images/$name"; done
echo "screenshots: $(echo "$names" | wc -w) pictures in $images"
