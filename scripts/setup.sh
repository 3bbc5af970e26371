#!/usr/bin/env bash
# Installs what Quillmar needs to build, run and test (Debian 12 packages).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev libgl-dev
  libsqlite3-dev sqlite3
  libssl-dev
  libzip-dev zip
  libarchive-dev libarchive-tools liblzma-dev
  arj nomarch arc unar
  nlohmann-json3-dev
  libgtest-dev googletest
  clang libclang-rt-14-dev clang-format
  fonts-liberation2 python3 python3-html5lib
  locales
  lintian
)
# The manual's pictures of the web listings need a real browser; the test
# command never does.
if [ "${1:-}" = "--screenshots" ]; then
  packages+=(chromium)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
    missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
