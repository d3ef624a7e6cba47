#!/usr/bin/env bash
# Draws the main window on the sample config.ini and mac.csv of examples/,
# after a read test of every entry against a simulated unit, into
# docs/screenshot.png on the offscreen platform: no display needed. Builds
# feederbench-snapshot first (the default preset).
#   bash scripts/screenshot.sh [output.png]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_BUILD:-$root/build}"
output="${1:-$root/docs/screenshot.png}"

# setup.sh installs the CJK font: without it the window's texts come out as boxes.
bash "$root/scripts/setup.sh" --target feederbench-snapshot "$build"

mkdir -p "$(dirname "$output")"
QT_QPA_PLATFORM=offscreen "$build/tools/feederbench-snapshot" --poll --workdir "$root/examples" "$output"
