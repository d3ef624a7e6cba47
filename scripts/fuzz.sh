#!/usr/bin/env bash
# Runs the libFuzzer targets for as long as asked and prints, per target, the
# executions done and the findings (crash, leak, timeout or out-of-memory files).
#   bash scripts/fuzz.sh [-j JOBS] [SECONDS] [TARGET[=SECONDS]...]
# SECONDS is the time per target (default 60); a target may name its own.
# -j runs that many targets at once (default 1; one core each).
# Targets: packet_parse modbus_reply decode_reply send_text device_list mac_table plan
# Exit status 0 only when every target ran and found nothing.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
all_targets=(packet_parse modbus_reply decode_reply send_text device_list mac_table plan)

jobs=1
if [ "${1:-}" = "-j" ]; then
    jobs="$2"
    shift 2
fi
seconds=60
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then
    seconds="$1"
    shift
fi
targets=()
declare -A time_of
for arg in "$@"; do
    name="${arg%%=*}"
    [[ " ${all_targets[*]} " == *" $name "* ]] || { echo "unknown target: $name" >&2; exit 2; }
    targets+=("$name")
    [ "$arg" != "$name" ] && time_of[$name]="${arg#*=}"
done
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
build="${FEEDERBENCH_FUZZ_BUILD:-$root/build-fuzz}"

# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing clang libclang-rt-14-dev
fuzz_targets=()
for t in "${targets[@]}"; do
    fuzz_targets+=(--target "fuzz_$t")
done
bash "$root/scripts/setup.sh" --preset fuzz "${fuzz_targets[@]}" "$build"

export QT_QPA_PLATFORM=offscreen
# Leaks are looked for after every input; memory that Qt keeps for the
# whole run (codecs, the settings cache) is still reachable and not reported.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}"

run_target() {
    local t="$1" secs="$2"
    local work="$build/fuzz-run/$t"
    rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
    cp "$root/fuzz/corpus/$t/"* "$work/corpus/" 2>/dev/null || true
    local status=0
    "$build/fuzz/fuzz_$t" -max_total_time="$secs" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$work/artifacts/" "$work/corpus" \
        >"$work/log.txt" 2>&1 || status=$?
    echo "$status" >"$work/status"
}

pids=()
for t in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n || true
    done
    run_target "$t" "${time_of[$t]:-$seconds}" &
    pids+=($!)
done
wait "${pids[@]}" || true

failed=0
clean=0
printf '%-14s %8s %14s %10s %9s\n' target seconds executions exec/s findings
for t in "${targets[@]}"; do
    work="$build/fuzz-run/$t"
    log="$work/log.txt"
    runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{print $2}' | tail -n1 || true)
    rate=$(grep -E '^stat::average_exec_per_sec:' "$log" | awk '{print $2}' | tail -n1 || true)
    findings=$(find "$work/artifacts" -type f | wc -l)
    status=$(cat "$work/status" 2>/dev/null || echo '?')
    printf '%-14s %8s %14s %10s %9s\n' "$t" "${time_of[$t]:-$seconds}" "${runs:-?}" "${rate:-?}" \
        "$findings"
    if [ "$findings" -ne 0 ] || [ -z "${runs:-}" ] || [ "$status" != 0 ]; then
        failed=$((failed + 1))
        echo "---- $t: exit status $status; the end of $log:"
        tail -n 40 "$log"
        find "$work/artifacts" -type f -printf '  finding: %p\n'
    else
        clean=$((clean + 1))
    fi
done
# A target passes when it ran and found nothing.
echo "fuzz: $clean passed, $failed failed"
[ "$failed" -eq 0 ]
