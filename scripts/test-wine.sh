#!/usr/bin/env bash
# The Windows build's tests under Wine, in a Wine prefix of its own in a
# temporary folder:
#   1. the test programs that need no line, through CTest (Wine as the emulator);
#   2. end to end: pdu-sim runs natively on a pseudo-terminal that Wine's COM5
#      points at, and the Windows program tst_comport drives the real window on
#      COM5 (a poll of the sample list, a close of module 1, a MAC write, a MAC
#      read); what the unit received is then checked against pdu-sim's log.
# Builds what is missing first (scripts/windows.sh, and pdu-sim with scripts/setup.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_WIN_BUILD:-$root/build-win64}"
linux_build="${FEEDERBENCH_BUILD:-$root/build}"

# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing wine wine64

[ -x "$build/tests/tst_comport.exe" ] || bash "$root/scripts/windows.sh"
[ -x "$linux_build/tools/pdu-sim" ] || bash "$root/scripts/setup.sh" "$linux_build"
qt="$(bash "$root/scripts/windows-qt.sh" 2>/dev/null | tail -n1)"

tmp="$(mktemp -d)"
sim=""
export WINEPREFIX="$tmp/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    [ -n "$sim" ] && { kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; }
    wineserver -k 2>/dev/null || true # this prefix's server only
    rm -rf "$tmp"
}
trap cleanup EXIT

echo "== Wine prefix in $WINEPREFIX"
wineboot -i >/dev/null 2>&1
# The Qt and MinGW runtime DLLs, as Windows paths on drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
WINEPATH="$(winpath "$qt/bin")"
for dir in /usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib; do
    WINEPATH="$WINEPATH;$(winpath "$dir")"
done
export WINEPATH

echo "== test programs without a line, under Wine"
(cd "$build" && ctest --output-on-failure --parallel 2 --timeout 300)

echo "== end to end: the window on COM5, pdu-sim behind it"
com5="$WINEPREFIX/dosdevices/com5"
"$linux_build/tools/pdu-sim" --switch-state 1:1 --flags 1:0x0003 --link "$com5" \
    >"$tmp/pdu-sim.port" 2>"$tmp/pdu-sim.log" &
sim=$!
for _ in $(seq 50); do
    [ -s "$tmp/pdu-sim.port" ] && break
    kill -0 "$sim" 2>/dev/null || { cat "$tmp/pdu-sim.log" >&2; exit 1; }
    sleep 0.1
done
echo "   COM5 -> $(head -n1 "$tmp/pdu-sim.port")"

status=0
FEEDERBENCH_COM_PORT=COM5 FEEDERBENCH_EXPECTED_REQUESTS="$(winpath "$tmp/expected.txt")" \
    wine "$build/tests/tst_comport.exe" -platform offscreen || status=$?

# What the unit received, in order, against what the test says it sent.
sed -n 's/^\[[^]]*\] <- //p' "$tmp/pdu-sim.log" >"$tmp/received.txt"
tr -d '\r' <"$tmp/expected.txt" >"$tmp/expected.lf" 2>/dev/null || : >"$tmp/expected.lf"
if [ -s "$tmp/expected.lf" ] && diff -u "$tmp/expected.lf" "$tmp/received.txt"; then
    echo "   the unit received the $(wc -l <"$tmp/received.txt") requests the window sent"
else
    echo "FAIL: the unit's log differs from what the window sent (- expected, + received)" >&2
    status=1
fi
[ "$status" -eq 0 ] || { echo "== pdu-sim log"; cat "$tmp/pdu-sim.log"; } >&2
exit "$status"
