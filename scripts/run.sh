#!/usr/bin/env bash
# Runs FeederBench beside a simulated distribution unit: installs what is
# missing, builds, starts the simulator on a pseudo-terminal, and starts the
# tool in a working directory holding the sample config.ini and mac.csv.
# Closing the tool stops the simulator. Extra arguments go to pdu-sim
# (for example: bash scripts/run.sh --silent 3 --exception 4:02).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_BUILD:-$root/build}"
bash "$root/scripts/setup.sh" "$build"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'TXT'
No display: FeederBench is a desktop program and needs one.
Run this from a desktop session, or give it a virtual display, e.g.:
    sudo apt-get install -y xvfb && xvfb-run -a bash scripts/run.sh
(For a look without any display, bash scripts/screenshot.sh draws the window into docs/screenshot.png.)
TXT
    exit 1
fi

work="$build/run"
mkdir -p "$work"
cp "$root/examples/config.ini" "$root/examples/mac.csv" "$work/"
link="$work/pdu-sim-port"

"$build/tools/pdu-sim" --link "$link" "$@" >"$work/pdu-sim.port" 2>"$work/pdu-sim.log" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -s "$work/pdu-sim.port" ] && break
    kill -0 "$sim" 2>/dev/null || { cat "$work/pdu-sim.log" >&2; exit 1; }
    sleep 0.1
done
port="$(head -n1 "$work/pdu-sim.port")"

cat <<TXT
The simulated unit is listening on $port (also reachable as $link).
In FeederBench type this into 串口号 (port):  $port
then press 打开串口 (9600 baud, 8 data bits, no parity, 1 stop bit).
The simulator's request/reply log: $work/pdu-sim.log
TXT

cd "$work"
"$build/app/feederbench"
