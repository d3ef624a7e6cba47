#!/usr/bin/env bash
# The Windows build's tests under Wine, in a Wine prefix of its own in a
# temporary folder:
#   1. the test programs that need no line, through CTest (Wine as the emulator);
#   2. end to end: pdu-sim runs natively on a pseudo-terminal that Wine's COM5
#      points at, and the Windows program tst_comport drives the real window on
#      COM5 (a poll of the sample list, a close of module 1, a MAC write, a MAC
#      read) and checks the replies it shows; what the unit received is then
#      checked against pdu-sim's log. Then the command line reads the sample
#      list from module 1 on COM5 (cli_comport: feederbench-cli's own code),
#      its lines and its JSON document are checked, and its requests against
#      pdu-sim's log. Wine is given the modem lines a cable would have
#      (tests/windows/ptyshim.c, preloaded), and tst_comport and cli_comport
#      make Wine's serial event waits end as on Windows
#      (tests/windows/wine_comm_wait.cpp);
#   3. the zip's own feederbench-cli.exe, with only the DLLs beside it, answers
#      --version and --help, and its feederbench.exe starts and shows its window
#      on a virtual display (build-win64/wine-window.png).
# Builds what is missing first (scripts/windows.sh, and pdu-sim with scripts/setup.sh).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_WIN_BUILD:-$root/build-win64}"
linux_build="${FEEDERBENCH_BUILD:-$root/build}"

# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing wine wine64 xvfb x11-utils imagemagick unzip gcc libc6-dev

[ -x "$build/tests/tst_comport.exe" ] && [ -x "$build/tests/cli_comport.exe" ] ||
    bash "$root/scripts/windows.sh"
# The build may have been configured before Wine was on the machine; CTest
# would then run each .exe as a shell script. The emulator is named here,
# where Wine is certain to be installed.
cmake "$build" -DFEEDERBENCH_WINE="$(command -v wine)" >/dev/null
[ -x "$linux_build/tools/pdu-sim" ] || bash "$root/scripts/setup.sh" "$linux_build"
qt="$(bash "$root/scripts/windows-qt.sh" 2>/dev/null | tail -n1)"

tmp="$(mktemp -d)"
sim=""
export WINEPREFIX="$tmp/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A Chinese Windows, as on the bench PCs: Wine takes its code page (936) from
# LC_ALL's name (the locale need not be installed; only Wine is given it, the
# build machine's tools would complain); a saved traffic log is written in it.
chinese=(env LC_ALL=zh_CN.UTF-8)
cleanup() {
    [ -n "$sim" ] && { kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; }
    wineserver -k 2>/dev/null || true # this prefix's server only
    rm -rf "$tmp"
}
trap cleanup EXIT

echo "== Wine prefix in $WINEPREFIX"
# A new prefix now and then fails to come up on a busy machine (wineboot exits
# with an error before its server is ready): it is tried again, from scratch.
for try in 1 2 3; do
    if wineboot -i >/dev/null 2>&1 && wineserver -w && [ -f "$WINEPREFIX/system.reg" ]; then
        break
    fi
    echo "   wineboot failed (try $try)" >&2
    [ "$try" -eq 3 ] && exit 1
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    sleep 2
done
# The Qt and MinGW runtime DLLs, as Windows paths on drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
WINEPATH="$(winpath "$qt/bin")"
for dir in /usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib; do
    WINEPATH="$WINEPATH;$(winpath "$dir")"
done
export WINEPATH

echo "== test programs without a line, under Wine"
(cd "$build" && "${chinese[@]}" ctest --output-on-failure --parallel 2 --timeout 300)

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

# A pseudo-terminal has no modem lines, and Wine 8 gives up a wait for received
# characters when it cannot read the lines: the shim answers for the terminal
# as a cable to the unit would. Only this Wine process gets it.
gcc -O2 -Wall -Wextra -shared -fPIC -o "$tmp/ptyshim.so" "$root/tests/windows/ptyshim.c" -ldl
window_status=0
FEEDERBENCH_COM_PORT=COM5 FEEDERBENCH_EXPECTED_REQUESTS="$(winpath "$tmp/expected.txt")" \
    LD_PRELOAD="$tmp/ptyshim.so" "${chinese[@]}" timeout 300 \
    wine "$build/tests/tst_comport.exe" -platform offscreen -o "$(winpath "$tmp/comport.txt"),txt" \
    >/dev/null 2>&1 || window_status=$?
grep -v 'connectSlotsByName\|propagateSizeHints\|QFontDatabase\|Note that Qt no longer' "$tmp/comport.txt" || true

# What the unit received, in order, against what the window sent.
status=0
sed -n 's/^\[[^]]*\] <- //p' "$tmp/pdu-sim.log" >"$tmp/received.txt"
tr -d '\r' <"$tmp/expected.txt" >"$tmp/expected.lf" 2>/dev/null || : >"$tmp/expected.lf"
if [ -s "$tmp/expected.lf" ] && diff -u "$tmp/expected.lf" "$tmp/received.txt"; then
    echo "   the unit received exactly the $(wc -l <"$tmp/received.txt") requests the window sent"
else
    echo "FAIL: the unit's log differs from what the window sent (- expected, + received)" >&2
    status=1
fi

echo "== end to end: the command line on COM5"
# The sample list in a folder of its own, read from module 1 (closed by the
# window's test just now, short-circuit and over-current flags set), as lines
# and as JSON.
mkdir "$tmp/station"
cp "$root/examples/config.ini" "$tmp/station/"
logged_before="$(wc -l <"$tmp/received.txt")"
cli() {
    (cd "$tmp/station" && LD_PRELOAD="$tmp/ptyshim.so" "${chinese[@]}" timeout 120 \
        wine "$build/tests/cli_comport.exe" "$@")
}
cli_status=0
cli read --port COM5 --module 1 >"$tmp/cli.out" 2>"$tmp/cli.err" || cli_status=$?
cli read --port COM5 --module 1 --json >"$tmp/cli.json" 2>>"$tmp/cli.err" || cli_status=$?
tr -d '\r' <"$tmp/cli.out"
for expected in '开关状态:0' '	合闸' '保护状态:0000000000000011' '	短路保护' '	过流保护' \
    '合计12项：成功12，无应答0，异常应答0，校验错误0'; do
    grep -qF -- "$expected" "$tmp/cli.out" || { echo "FAIL: the command line did not print: $expected" >&2; status=1; }
done
[ "$cli_status" -eq 0 ] || { echo "FAIL: feederbench-cli on COM5 (exit status $cli_status)" >&2; cat "$tmp/cli.err" >&2; status=1; }
# The JSON document's exchanges are what the unit received for the second run.
sed -n 's/^\[[^]]*\] <- //p' "$tmp/pdu-sim.log" | tail -n +"$((logged_before + 13))" >"$tmp/cli-received.txt"
if python3 - "$tmp/cli.json" "$tmp/cli-received.txt" <<'PY'; then
import json, sys
doc = json.load(open(sys.argv[1], encoding="utf-8"))
received = open(sys.argv[2]).read().split("\n")[:-1]
sent = [e["request"] for e in doc["exchanges"]]
assert doc["status"] == "passed" and doc["exitCode"] == 0, doc.get("status")
assert len(doc["results"]) == 12 and doc["results"][0]["text"] == "0\n\t合闸", doc["results"][0]
assert sent == received, (sent, received)
print("   the JSON document: passed, 12 results; the unit received exactly its %d requests" % len(sent))
PY
    :
else
    echo "FAIL: the command line's JSON document on COM5" >&2
    status=1
fi

kill "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
sim=""
if [ "$window_status" -ne 0 ]; then
    echo "FAIL: the window on COM5 under Wine (tst_comport exit status $window_status)" >&2
    status=1
fi
[ "$status" -eq 0 ] || { echo "== pdu-sim log"; cat "$tmp/pdu-sim.log"; exit "$status"; } >&2

echo "== the zip's programs with only their own DLLs"
version="$(sed -n 's/^project(FeederBench VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
name="feederbench-$version-win64"
unzip -q "$build/$name.zip" -d "$tmp/zip"
# The console program with only its own DLLs: it starts and answers.
(cd "$tmp/zip/$name" && WINEPATH="" "${chinese[@]}" wine feederbench-cli.exe --version) >"$tmp/cli-version.txt" 2>&1 ||
    { echo "FAIL: the zip's feederbench-cli.exe --version" >&2; cat "$tmp/cli-version.txt" >&2; exit 1; }
grep -q "^feederbench-cli $version" "$tmp/cli-version.txt" ||
    { echo "FAIL: the zip's feederbench-cli.exe --version printed:" >&2; cat "$tmp/cli-version.txt" >&2; exit 1; }
(cd "$tmp/zip/$name" && WINEPATH="" "${chinese[@]}" wine feederbench-cli.exe --help) 2>&1 | grep -q '退出状态' ||
    { echo "FAIL: the zip's feederbench-cli.exe --help" >&2; exit 1; }
echo "   the zip's feederbench-cli.exe: $(tr -d '\r' <"$tmp/cli-version.txt")"
# feederbench.exe on a virtual display.
shot="$build/wine-window.png"
rm -f "$shot"
# The prefix's session was started without a display: end it so the program
# starts a new one on the virtual display.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
# The window is looked for by its title every half second (60 s at most); the
# program ending first means it could not start (a DLL missing, say).
WINEPATH="" xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    cd "$1" || exit 1
    env LC_ALL=zh_CN.UTF-8 wine feederbench.exe &
    app=$!
    for _ in $(seq 120); do
        if xwininfo -root -tree 2>/dev/null | grep -q "FeederBench\["; then
            sleep 2 # let it finish drawing
            import -window root "$2"
            kill "$app"
            exit 0
        fi
        kill -0 "$app" 2>/dev/null || exit 1
        sleep 0.5
    done
    exit 1' _ "$tmp/zip/$name" "$shot" || { echo "FAIL: the zip's program did not show its window" >&2; exit 1; }
echo "   window shown; screenshot: $shot"
