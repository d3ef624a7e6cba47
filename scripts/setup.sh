#!/usr/bin/env bash
# Installs what FeederBench needs on Debian (only what is missing), then
# configures and builds it. run.sh and test.sh call it; usable alone:
#   bash scripts/setup.sh [build-dir] [extra cmake options...]
set -euo pipefail

FB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FB_BUILD="${1:-$FB_ROOT/build}"
shift || true

fb_packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5sql5
    fonts-wqy-microhei   # the window's Chinese texts
    mbpoll               # an independent Modbus master for the interoperability test
    libmodbus-dev        # the reference master of the benchmark
    libqt5sql5-sqlite    # the provisioning record on this bench
    libqt5sql5-psql      # the provisioning record shared by a line of benches
    postgresql           # a private server for the shared-record tests
)

# shellcheck source=/dev/null
source "$FB_ROOT/scripts/packages.sh"
fb_install_missing "${fb_packages[@]}"

echo "== configuring and building in $FB_BUILD"
cmake -S "$FB_ROOT" -B "$FB_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$FB_BUILD" --parallel "$(nproc)"
