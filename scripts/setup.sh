#!/usr/bin/env bash
# Shared set-up for test.sh and run.sh: install what is missing, configure and build into build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make ccache pkg-config libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev
          qt6-base-dev clang libclang-rt-14-dev clang-format xvfb xauth imagemagick xdotool
          xdg-utils fonts-dejavu-core poppler-utils openbox desktop-file-utils postgresql libpq-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

export CCACHE_BASEDIR="$PWD"
build="${SORV_BUILD_DIR:-build}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${SORV_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"
