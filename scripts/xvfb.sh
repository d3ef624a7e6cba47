#!/usr/bin/env bash
# Virtual X screens (Xvfb) for the tests and pictures that need a real screen
# of a given size. Source it, then:
#   fb_start_xvfb 1366x768 VAR   starts a server with one screen of that size
#                                and sets VAR to its display (":93");
#   fb_stop_xvfb                 stops every server started so.
# The server picks a free display number itself, so several runs on one
# machine do not collide.
fb_xvfb_pids=()

fb_start_xvfb() {
    local size=$1 var=$2 numberfile pid
    numberfile="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
    pid=$!
    fb_xvfb_pids+=("$pid")
    # The server writes its display number once it takes connections.
    for _ in $(seq 100); do
        [ -s "$numberfile" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$numberfile" ]; then
        rm -f "$numberfile"
        echo "Xvfb did not start for a ${size} screen" >&2
        return 1
    fi
    printf -v "$var" ':%s' "$(head -n1 "$numberfile")"
    rm -f "$numberfile"
}

fb_stop_xvfb() {
    local pid
    for pid in "${fb_xvfb_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    fb_xvfb_pids=()
}

# The screens of the window-fit tests: a 1366 x 768 laptop, 1280 x 720, and
# 1920 x 1080 (run at 100 % and at 150 %). Exports FEEDERBENCH_DISPLAY_<size>
# for each.
fb_start_test_screens() {
    local size var
    for size in 1366x768 1280x720 1920x1080; do
        var="FEEDERBENCH_DISPLAY_${size}"
        fb_start_xvfb "$size" "$var" || return 1
        export "${var?}"
    done
}
