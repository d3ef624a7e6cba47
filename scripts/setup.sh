#!/usr/bin/env bash
# Installs what FeederBench needs on Debian (only what is missing), then
# configures with a preset of CMakePresets.json and builds. run.sh, test.sh,
# test-sanitize.sh, fuzz.sh and screenshot.sh call it; usable alone:
#   bash scripts/setup.sh [--preset NAME] [--target NAME]... [build-dir] [cmake options...]
# NAME is a preset (default, asan, fuzz; default: default); the build directory
# defaults to the preset's own. Without --target everything is built, and the
# packages the tests and benchmarks use are installed as well.
set -euo pipefail

FB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset=default
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
    --preset) preset="$2"; shift 2 ;;
    --target) targets+=("$2"); shift 2 ;;
    *) break ;;
    esac
done
# The presets' own directories: build/ for default, build-NAME for the others.
build="$FB_ROOT/build"
[ "$preset" != default ] && build="$FB_ROOT/build-$preset"
if [ $# -gt 0 ] && [[ "$1" != -* ]]; then
    build="$1"
    shift
fi

fb_packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5sql5
    libqt5sql5-sqlite    # the provisioning record on this bench
    libqt5sql5-psql      # the provisioning record shared by a line of benches
    fonts-wqy-microhei   # the window's Chinese texts
    qttranslations5-l10n # Qt's own dialogs and buttons in Chinese, built into the program
)
fb_test_packages=(
    xvfb                 # virtual screens for the window-fit tests and pictures
    mbpoll               # an independent Modbus master for the interoperability test
    libmodbus-dev        # the reference master of the benchmark
    postgresql           # a private server for the shared-record tests
)
[ ${#targets[@]} -eq 0 ] && fb_packages+=("${fb_test_packages[@]}")

# shellcheck source=/dev/null
source "$FB_ROOT/scripts/packages.sh"
fb_install_missing "${fb_packages[@]}"

echo "== configuring (preset $preset) and building ${targets[*]:-everything} in $build"
cd "$FB_ROOT"
cmake --preset "$preset" -B "$build" "$@" >/dev/null
cmake --build "$build" --parallel "$(nproc)" ${targets[@]+--target "${targets[@]}"}
