#!/usr/bin/env bash
# fb_install_missing PKG...: installs, with apt-get, the Debian packages that are not installed yet.
# Another apt (a bench PC's automatic updates, a second script) may hold the
# package lock: apt-get waits for it, up to ten minutes, instead of failing.
fb_apt_lock=(-o DPkg::Lock::Timeout=600)
fb_install_missing() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get "${fb_apt_lock[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get "${fb_apt_lock[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
