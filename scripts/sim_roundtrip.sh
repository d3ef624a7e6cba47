#!/usr/bin/env bash
# Round-trip time of one Modbus read (03, one register: an 8-byte request and
# a 7-byte reply) against pdu-sim, at 9600 and 115200 baud, next to the time
# the wire alone implies: (8 + 7) bytes x 10 bits / baud + the turnaround.
#
#   bash scripts/sim_roundtrip.sh [build dir] [requests per baud rate]
#
# The client is a few lines of Python on the raw pseudo-terminal, so the
# figures hold the simulator's timing and the operating system's wake-ups,
# nothing of a Modbus library's own.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${FEEDERBENCH_BUILD:-$root/build}}"
count="${2:-100}"
sim="$build/tools/pdu-sim"
turnaround=5

if [ ! -x "$sim" ]; then
    echo "pdu-sim not found at $sim: build it first (ninja -C $build pdu-sim)" >&2
    exit 1
fi

measure() { # baud -> "min median max" in ms
    local baud="$1" out pid port
    out="$(mktemp)"
    "$sim" --quiet --baud "$baud" --turnaround "$turnaround" >"$out" &
    pid=$!
    for _ in $(seq 50); do
        [ -s "$out" ] && break
        sleep 0.1
    done
    port="$(head -n1 "$out")"
    python3 - "$port" "$count" <<'PY' || true
import os, select, statistics, sys, termios, time, tty
port, count = sys.argv[1], int(sys.argv[2])
request = bytes.fromhex("55 03 07 04 00 01 C9 6B")  # switch state of module 0
fd = os.open(port, os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
times = []
for _ in range(count):
    termios.tcflush(fd, termios.TCIFLUSH)
    start = time.perf_counter()
    os.write(fd, request)
    reply = b""
    while len(reply) < 7:
        ready, _, _ = select.select([fd], [], [], 1.0)
        if not ready:
            sys.exit("no reply within 1 s")
        reply += os.read(fd, 64)
    times.append((time.perf_counter() - start) * 1000)
    time.sleep(0.02)  # a quiet line between requests
os.close(fd)
print(f"{min(times):.2f} {statistics.median(times):.2f} {max(times):.2f}")
PY
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    rm -f "$out"
}

printf 'One 03 request (8 bytes) and its reply (7 bytes), turnaround %d ms, %d requests each\n' \
    "$turnaround" "$count"
printf '%8s  %12s  %12s  %12s  %12s\n' baud "wire+turn ms" "min ms" "median ms" "max ms"
for baud in 9600 115200; do
    wire="$(awk -v b="$baud" -v t="$turnaround" 'BEGIN { printf "%.2f", (8 + 7) * 10 * 1000 / b + t }')"
    read -r lo mid hi <<<"$(measure "$baud")"
    printf '%8s  %12s  %12s  %12s  %12s\n' "$baud" "$wire" "${lo:--}" "${mid:--}" "${hi:--}"
done
