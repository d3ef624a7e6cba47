#!/usr/bin/env bash
# Draws the main window on the sample config.ini and mac.csv of examples/,
# after a read test of every entry against a simulated unit (the result window
# ends on its summary line), into
# docs/screenshot.png on the offscreen platform: no display needed. Then the
# same on virtual X screens of 1366 x 768 and 1280 x 720, the window placed as
# the program places itself, into docs/screenshot-<size>.png (beside the given
# output). Configures and builds feederbench-snapshot first when needed.
#   bash scripts/screenshot.sh [output.png]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_BUILD:-$root/build}"
output="${1:-$root/docs/screenshot.png}"

# The window's texts are Chinese; without a CJK font they come out as boxes.
# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing fonts-wqy-microhei xvfb

if [ ! -f "$build/CMakeCache.txt" ]; then
    fb_install_missing build-essential cmake ninja-build pkg-config \
        qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target feederbench-snapshot

mkdir -p "$(dirname "$output")"
QT_QPA_PLATFORM=offscreen "$build/tools/feederbench-snapshot" --poll --workdir "$root/examples" "$output"

# shellcheck source=/dev/null
source "$root/scripts/xvfb.sh"
trap fb_stop_xvfb EXIT
for size in 1366x768 1280x720; do
    fb_start_xvfb "$size" display
    DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/tools/feederbench-snapshot" --poll --fit \
        --workdir "$root/examples" "$(dirname "$output")/screenshot-$size.png"
done
