#!/usr/bin/env bash
# Builds the Debian package for bench PCs from a clean build directory and
# checks it without installing it on this machine:
#   bash scripts/package.sh
# The package is left as build-package/feederbench_<version>_<arch>.deb.
# Checks: the control data and the file list are what a bench needs and no
# more, lintian finds no errors (its warnings are printed), and the programs
# taken out of the package run: feederbench stays up for two seconds on the
# offscreen platform, pdu-sim and feederbench-cli list their options in --help
# and their man pages describe every one of them, feederbench-cli needs no Qt
# Gui or Widgets and reads the sample list from the packaged pdu-sim.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-package"

# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing build-essential cmake ninja-build pkg-config \
    qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev \
    qttranslations5-l10n \
    dpkg-dev file lintian # file: CPack looks at the programs with it for dpkg-shlibdeps

echo "== building the package in $build"
rm -rf "$build"
# Debian's hardening flags (stack protector, fortified functions, full RELRO,
# immediate binding), as a Debian build would pass them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
(cd "$root" && cmake --preset package >/dev/null)
nice -n 10 cmake --build "$build" --parallel "$(nproc)"
(cd "$build" && cpack -G DEB >/dev/null)

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$build/feederbench_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }

failed=0
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}

echo "== dpkg-deb --info"
info="$(dpkg-deb --info "$deb")"
echo "$info"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = feederbench ] || fail "package name is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version $(field Version), project $version"
depends="$(field Depends)"
# Computed by dpkg-shlibdeps from the programs, plus the SQL drivers and the
# font that it cannot see.
for dep in libqt5core5a libqt5widgets5 libqt5serialport5 libqt5sql5-sqlite libqt5sql5-psql \
    fonts-wqy-microhei; do
    [[ ", $depends" == *", $dep"[\ ,\|]* || "$depends" == *"$dep" ]] || fail "Depends lacks $dep"
done

echo "== dpkg-deb --contents"
dpkg-deb --contents "$deb"
# Exactly these files: a test program, a benchmark or a header in the package
# is as much a fault as a missing page.
expected="./usr/bin/feederbench
./usr/bin/feederbench-cli
./usr/bin/pdu-sim
./usr/libexec/feederbench/feederbench-launch
./usr/share/applications/feederbench.desktop
./usr/share/doc/feederbench/README.Debian
./usr/share/doc/feederbench/changelog.gz
./usr/share/doc/feederbench/copyright
./usr/share/doc/feederbench/examples/config.ini
./usr/share/doc/feederbench/examples/mac.csv
./usr/share/doc/feederbench/examples/plan.ini
./usr/share/feederbench/guide/plan-fail.png
./usr/share/feederbench/guide/plan-pass.png
./usr/share/feederbench/guide/session.png
./usr/share/feederbench/guide/window.png
./usr/share/feederbench/使用说明.md
./usr/share/icons/hicolor/128x128/apps/feederbench.png
./usr/share/man/man1/feederbench-cli.1.gz
./usr/share/man/man1/feederbench.1.gz
./usr/share/man/man1/pdu-sim.1.gz"
# In byte order, whatever the locale: the guide's name is not ASCII.
files="$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | LC_ALL=C sort)"
if [ "$files" != "$expected" ]; then
    fail "the file list differs from the expected one (< expected, > in the package):"
    diff <(echo "$expected") <(echo "$files") || true
fi

echo "== lintian"
# Lintian says it should not run as root; its checks are the same.
lintian_out="$(lintian -I --tag-display-limit 0 "$deb" 2>&1 || true)"
echo "${lintian_out:-(nothing to report)}"
if grep -q '^E: ' <<<"$lintian_out"; then
    fail "lintian reports errors"
fi
echo "lintian warnings: $(grep -c '^W: ' <<<"$lintian_out" || true)"

echo "== the programs taken out of the package"
tmp="$(mktemp -d)"
app=""
sim=""
cleanup() {
    for child in $app $sim; do
        kill "$child" 2>/dev/null || true
        wait "$child" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$tmp/root"
mkdir "$tmp/bench"
cp "$tmp/root/usr/share/doc/feederbench/examples/"* "$tmp/bench/"
(cd "$tmp/bench" && QT_QPA_PLATFORM=offscreen exec "$tmp/root/usr/bin/feederbench" \
    -platform offscreen >"$tmp/feederbench.log" 2>&1) &
app=$!
sleep 2
if kill -0 "$app" 2>/dev/null; then
    echo "feederbench is up after two seconds on the offscreen platform"
    kill "$app"
    wait "$app" 2>/dev/null || true
else
    wait "$app" && status=0 || status=$?
    fail "feederbench ended within two seconds (exit status $status):"
    cat "$tmp/feederbench.log"
fi
app=""

# The menu's launcher picks the working folder: FEEDERBENCH_DIR, else
# ~/FeederBench when it exists, else the home folder. Here it starts a stand-in
# that prints where it was started.
printf '#!/bin/sh\npwd\n' >"$tmp/where"
chmod +x "$tmp/where"
sed "s|/usr/bin/feederbench|$tmp/where|" "$tmp/root/usr/libexec/feederbench/feederbench-launch" \
    >"$tmp/launch"
mkdir -p "$tmp/home" "$tmp/chosen"
launched() { (cd / && env -u FEEDERBENCH_DIR HOME="$tmp/home" "$@" sh "$tmp/launch"); }
[ "$(launched)" = "$tmp/home" ] || fail "launcher: not in the home folder without ~/FeederBench"
mkdir "$tmp/home/FeederBench"
[ "$(launched)" = "$tmp/home/FeederBench" ] || fail "launcher: ~/FeederBench not used"
[ "$(launched FEEDERBENCH_DIR="$tmp/chosen")" = "$tmp/chosen" ] || fail "launcher: FEEDERBENCH_DIR not used"
[ "$(launched FEEDERBENCH_DIR="$tmp/missing" 2>/dev/null)" = "$tmp/home" ] ||
    fail "launcher: a missing FEEDERBENCH_DIR does not fall back to the home folder"

# 帮助 → 使用说明 finds the guide in share/feederbench/, and every picture it
# shows beside it.
guide="$tmp/root/usr/share/feederbench/使用说明.md"
for picture in $(grep -oE '\]\(guide/[^)]+\)' "$guide" | sed 's/^](//; s/)$//'); do
    [ -f "$(dirname "$guide")/$picture" ] || fail "the guide shows $picture, which the package lacks"
done

# Every option a program's --help lists is described in its man page.
check_options() { # program, fewest options
    local help options page option
    help="$("$tmp/root/usr/bin/$1" --help)" || fail "$1 --help failed"
    echo "$help"
    options="$(grep -oE -- '--[a-z][a-z-]+' <<<"$help" | sort -u)"
    [ "$(wc -l <<<"$options")" -ge "$2" ] || fail "$1 --help lists too few options"
    page="$(zcat "$tmp/root/usr/share/man/man1/$1.1.gz" | sed 's/\\-/-/g')"
    for option in $options; do
        grep -qe "$option" <<<"$page" || fail "man $1 does not describe $option"
    done
}
check_options pdu-sim 10
check_options feederbench-cli 10

# The command line runs where no desktop is installed.
needed="$(readelf -d "$tmp/root/usr/bin/feederbench-cli" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')"
echo "feederbench-cli needs: $(tr '\n' ' ' <<<"$needed")"
grep -q '^libQt5SerialPort' <<<"$needed" || fail "feederbench-cli does not need Qt Serial Port?"
if grep -qE '^libQt5(Gui|Widgets)' <<<"$needed"; then
    fail "feederbench-cli needs Qt Gui or Widgets"
fi
# And it reads the sample list from the packaged simulator, as a station would.
"$tmp/root/usr/bin/pdu-sim" --quiet --switch-state 1:2 >"$tmp/sim.port" &
sim=$!
for _ in $(seq 50); do [ -s "$tmp/sim.port" ] && break; sleep 0.1; done
if (cd "$tmp/bench" && "$tmp/root/usr/bin/feederbench-cli" read --port "$(head -n1 "$tmp/sim.port")" \
    --module 1 >"$tmp/cli.out" 2>&1); then
    grep -q 'LVD 分闸,低压侦测' "$tmp/cli.out" || fail "feederbench-cli read: the switch state is missing"
    echo "feederbench-cli read the sample list from pdu-sim: $(tail -n1 "$tmp/cli.out")"
else
    fail "feederbench-cli read against pdu-sim failed:"
    cat "$tmp/cli.out"
fi
kill "$sim" 2>/dev/null || true
wait "$sim" 2>/dev/null || true
sim=""

size="$(stat -c %s "$deb")"
echo "== $deb: $size bytes ($((size / 1024)) KiB)"
if [ "$failed" -ne 0 ]; then
    echo "package: $failed checks failed"
    exit 1
fi
echo "package: every check passed"
