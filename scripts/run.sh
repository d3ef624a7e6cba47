#!/usr/bin/env bash
# Runs FeederBench beside a simulated distribution unit: installs what is
# missing, builds the tool and the simulator, starts the simulator on a pseudo-terminal, and starts the
# tool in a working directory holding the sample config.ini and mac.csv.
# Closing the tool stops the simulator. Extra arguments go to pdu-sim
# (for example: bash scripts/run.sh --silent 3 --exception 4:02).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_BUILD:-$root/build}"
# Only the two programs this runs: a first start builds no tests or benchmarks.
bash "$root/scripts/setup.sh" --target feederbench --target pdu-sim "$build"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'TXT'
没有图形显示：FeederBench 是桌面程序，需要在图形界面中运行。
No display: FeederBench is a desktop program and needs one.
请在桌面会话中运行，或使用虚拟显示 / Run it from a desktop session, or give it a virtual display:
    sudo apt-get install -y xvfb && xvfb-run -a bash scripts/run.sh
不需要显示也能看窗口 / For a look without any display:
    bash scripts/screenshot.sh    # 生成 docs/screenshot.png
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
模拟配电单元已在串口 $port 上运行（也可用 $link）。
在 FeederBench 的“串口号”中输入：  $port
然后点“打开串口”（9600，8位，无校验，1位停止位）。
模拟器的收发记录：$work/pdu-sim.log
(The simulated unit listens on $port; type it into 串口号 and press 打开串口.)
TXT

cd "$work"
"$build/app/feederbench"
