#!/usr/bin/env bash
# The whole test suite on a fresh Debian machine: installs what is missing,
# builds, and runs every test headless. The window-fit tests get virtual X
# screens of a bench PC's sizes, started here and stopped at the end.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_BUILD:-$root/build}"
bash "$root/scripts/setup.sh" "$build"
# shellcheck source=/dev/null
source "$root/scripts/xvfb.sh"
trap fb_stop_xvfb EXIT
fb_start_test_screens
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel 2
