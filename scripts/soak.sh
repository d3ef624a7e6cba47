#!/usr/bin/env bash
# A soak run of the message windows: builds the tool if needed, then sends a
# read request every 10 ms to the simulated unit for ten minutes (by default)
# through the console's cyclic sending, and prints memory and line counts once
# a minute. Not part of the test suite: it takes its time.
#   bash scripts/soak.sh [--minutes N] [--interval MS] [--baud B]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_BUILD:-$root/build}"
if [[ ! -x "$build/bench/bench_soak" ]]; then
    bash "$root/scripts/setup.sh" "$build"
fi
exec nice -n 10 "$build/bench/bench_soak" "$@"
