#!/usr/bin/env bash
# The whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# (the asan preset).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_ASAN_BUILD:-$root/build-asan}"
bash "$root/scripts/setup.sh" --preset asan "$build"
# shellcheck source=/dev/null
source "$root/scripts/xvfb.sh"
trap fb_stop_xvfb EXIT
fb_start_test_screens
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel 2
