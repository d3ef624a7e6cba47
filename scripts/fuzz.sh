#!/usr/bin/env bash
# Runs every libFuzzer target for as long as asked and prints, per target,
# the executions done and the findings (crash, leak or timeout files).
#   bash scripts/fuzz.sh [seconds-per-target] [target...]
# Targets: packet_parse modbus_reply decode_reply send_text device_list mac_table
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(packet_parse modbus_reply decode_reply send_text device_list mac_table)
build="${FEEDERBENCH_FUZZ_BUILD:-$root/build-fuzz}"

# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing clang libclang-rt-14-dev qtbase5-dev libqt5serialport5-dev cmake ninja-build

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DFEEDERBENCH_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" # Qt's own allocations at exit are not ours
failed=0
printf '%-14s %14s %10s %9s\n' target executions exec/s findings
for t in "${targets[@]}"; do
    work="$build/fuzz-run/$t"
    rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
    cp "$root/fuzz/corpus/$t/"* "$work/corpus/" 2>/dev/null || true
    log="$work/log.txt"
    set +e
    "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1
    set -e
    runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}' | tail -n1)
    rate=$(grep -E '^stat::average_exec_per_sec:' "$log" | awk '{print $2}' | tail -n1)
    findings=$(find "$work/artifacts" -type f | wc -l)
    printf '%-14s %14s %10s %9s\n' "$t" "${runs:-?}" "${rate:-?}" "$findings"
    if [ "$findings" -ne 0 ] || [ -z "${runs:-}" ]; then
        failed=1
        tail -n 40 "$log"
    fi
done
exit $failed
