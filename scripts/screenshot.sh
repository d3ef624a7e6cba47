#!/usr/bin/env bash
# Draws the main window on the sample config.ini and mac.csv of examples/,
# after a read test of every entry against a simulated unit (the result window
# ends on its summary line), into
# docs/screenshot.png on the offscreen platform: no display needed; the sample
# test plan passed and failed into docs/plan-pass.png and docs/plan-fail.png. Then the
# same on virtual X screens of 1366 x 768 and 1280 x 720, the window placed as
# the program places itself, into docs/screenshot-<size>.png (beside the given
# output). Builds feederbench-snapshot first (the default preset).
#   bash scripts/screenshot.sh [output.png]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_BUILD:-$root/build}"
output="${1:-$root/docs/screenshot.png}"

# setup.sh installs the CJK font: without it the window's texts come out as boxes.
bash "$root/scripts/setup.sh" --target feederbench-snapshot "$build"
# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing xvfb

mkdir -p "$(dirname "$output")"
QT_QPA_PLATFORM=offscreen "$build/tools/feederbench-snapshot" --poll --workdir "$root/examples" "$output"
# The sample plan on a unit that passes it and on one that fails it.
for verdict in pass fail; do
    QT_QPA_PLATFORM=offscreen "$build/tools/feederbench-snapshot" --plan "$verdict" \
        --workdir "$root/examples" "$(dirname "$output")/plan-$verdict.png"
done

# shellcheck source=/dev/null
source "$root/scripts/xvfb.sh"
trap fb_stop_xvfb EXIT
for size in 1366x768 1280x720; do
    fb_start_xvfb "$size" display
    DISPLAY="$display" QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none "$build/tools/feederbench-snapshot" --poll --fit \
        --workdir "$root/examples" "$(dirname "$output")/screenshot-$size.png"
done
