#!/usr/bin/env bash
# Draws the main window on the sample config.ini and mac.csv of examples/,
# after a read test of every entry against a simulated unit (the result window
# ends on its summary line), into
# docs/screenshot.png on the offscreen platform: no display needed. Configures and builds feederbench-snapshot first when needed.
#   bash scripts/screenshot.sh [output.png]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_BUILD:-$root/build}"
output="${1:-$root/docs/screenshot.png}"

# The window's texts are Chinese; without a CJK font they come out as boxes.
# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing fonts-wqy-microhei

if [ ! -f "$build/CMakeCache.txt" ]; then
    fb_install_missing build-essential cmake ninja-build pkg-config \
        qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target feederbench-snapshot

mkdir -p "$(dirname "$output")"
QT_QPA_PLATFORM=offscreen "$build/tools/feederbench-snapshot" --poll --workdir "$root/examples" "$output"
