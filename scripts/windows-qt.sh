#!/usr/bin/env bash
# Builds Qt 5.15 for 64-bit Windows with the MinGW-w64 cross compiler, once:
# qtbase from Debian's source package, the SQLite amalgamation made from
# Debian's sqlite3 source, Qt Serial Port from the vendored upstream tarball.
# The result is cached outside the work tree under a key made of its inputs
# (package versions, compiler, configure options, the tarball's checksum and
# RECIPE, raised whenever the steps below change), and reused while none
# changes. qtbase and Qt Serial Port are separate stages: a failed second stage
# does not rebuild the first.
#
#   bash scripts/windows-qt.sh          # builds if needed, prints the Qt prefix
#
# FEEDERBENCH_WINQT_CACHE picks the cache folder (default
# /var/cache/feederbench-winqt as root, ~/.cache/feederbench-winqt otherwise).
# The last line written to stdout is the Qt prefix; progress goes to stderr.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SERIALPORT_TARBALL=${FEEDERBENCH_SERIALPORT_TARBALL:-$ROOT/../shared/vendor/qtserialport-5.15.8.tar.xz}
[[ -f $SERIALPORT_TARBALL ]] || SERIALPORT_TARBALL=/work/shared/vendor/qtserialport-5.15.8.tar.xz
SERIALPORT_SHA256=8921bb8b9e8bb73077de082b40846ec6204034682720a2d7cfd3e570c968c4b9
JOBS=${JOBS:-2}
RECIPE=1

say() { printf '[windows-qt] %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }

if [[ $(id -u) -eq 0 ]]; then
    DEFAULT_CACHE=/var/cache/feederbench-winqt
else
    DEFAULT_CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/feederbench-winqt
fi
CACHE=${FEEDERBENCH_WINQT_CACHE:-$DEFAULT_CACHE}

# The posix-threads flavour of MinGW-w64 throughout: Qt, the program and the
# runtime DLLs shipped beside them must come from the same compiler.
for tool in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix tclsh dpkg-source; do
    command -v "$tool" >/dev/null || die "缺少 $tool（请先运行 scripts/setup.sh）"
done

QTBASE_VERSION=$(apt-cache policy libqt5core5a | awk '/Candidate:/ {print $2}')
SQLITE_VERSION=$(apt-cache policy libsqlite3-0 | awk '/Candidate:/ {print $2}')
[[ -n $QTBASE_VERSION && $QTBASE_VERSION != "(none)" ]] || die "找不到 qtbase 的版本"
[[ -n $SQLITE_VERSION && $SQLITE_VERSION != "(none)" ]] || die "找不到 sqlite3 的版本"
GCC_VERSION=$(x86_64-w64-mingw32-g++-posix -dumpfullversion)

CONFIGURE_OPTS=(
    -opensource -confirm-license -release -shared -strip
    -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32-
    -nomake examples -nomake tests
    -no-dbus -no-opengl -no-vulkan -no-icu -no-openssl -no-feature-tabletevent
    -no-feature-network -no-feature-xml -no-feature-concurrent -no-feature-printer
    -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz
    -sql-sqlite -qt-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql -no-sql-ibase
    -no-sql-db2 -no-sql-oci -no-sql-tds -no-sql-sqlite2
)

KEY=$({
    echo "qtbase $QTBASE_VERSION sqlite $SQLITE_VERSION gcc $GCC_VERSION"
    echo "serialport $SERIALPORT_SHA256"
    printf '%s\n' "${CONFIGURE_OPTS[@]}"
    echo "recipe $RECIPE"
} | sha256sum | cut -c1-16)
PREFIX=$CACHE/$KEY/qt
STAMP=$CACHE/$KEY/done
QTBASE_STAMP=$CACHE/$KEY/qtbase.done

if [[ -f $STAMP ]]; then
    say "已缓存：$PREFIX"
    echo "$PREFIX"
    exit 0
fi

START=$(date +%s)
say "构建 Qt for Windows（qtbase $QTBASE_VERSION，sqlite $SQLITE_VERSION，gcc $GCC_VERSION）→ $PREFIX"

# Check the vendored tarball before anything else is spent.
echo "$SERIALPORT_SHA256  $SERIALPORT_TARBALL" | sha256sum -c --quiet - ||
    die "qtserialport 压缩包校验失败：$SERIALPORT_TARBALL"

WORK=$CACHE/$KEY/build
[[ -f $QTBASE_STAMP ]] || rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"

# MinGW's plain names point at the win32-threads flavour; these shims make
# CROSS_COMPILE=x86_64-w64-mingw32- reach the posix one.
mkdir -p shim
for t in gcc g++ c++ cpp; do
    ln -sf "/usr/bin/x86_64-w64-mingw32-$t-posix" "shim/x86_64-w64-mingw32-$t"
done
export PATH=$WORK/shim:$PATH

if [[ ! -f $QTBASE_STAMP ]]; then
    # apt-get source needs a deb-src entry for the archive the machine already uses.
    if ! apt-cache showsrc qtbase-opensource-src 2>/dev/null | grep -q "^Version: $QTBASE_VERSION\$"; then
        SRC_LIST=/etc/apt/sources.list.d/feederbench-deb-src.sources
        if [[ ! -f $SRC_LIST ]]; then
            say "添加 deb-src 源：$SRC_LIST"
            {
                shopt -s nullglob
                for f in /etc/apt/sources.list.d/*.sources; do
                    [[ $f == "$SRC_LIST" ]] && continue
                    # Each deb822 stanza is copied with Types set to deb-src.
                    awk 'BEGIN { RS=""; ORS="\n\n" } /Types:.*deb/ { sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f"
                done
            } >"$SRC_LIST.tmp"
            if [[ -f /etc/apt/sources.list ]]; then
                sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >/etc/apt/sources.list.d/feederbench-deb-src.list
            fi
            mv "$SRC_LIST.tmp" "$SRC_LIST"
        fi
        apt-get -o DPkg::Lock::Timeout=600 -qq update >&2
    fi

    say "取源码包"
    apt-get source -qq "qtbase-opensource-src=$QTBASE_VERSION" >&2
    apt-get source -qq "sqlite3=$SQLITE_VERSION" >&2
    QTSRC=$(find "$WORK" -maxdepth 1 -type d -name 'qtbase-opensource-src-*' | head -1)
    SQLSRC=$(find "$WORK" -maxdepth 1 -type d -name 'sqlite3-*' | head -1)
    [[ -d $QTSRC && -d $SQLSRC ]] || die "源码包解包失败"

    say "生成 SQLite 合并源文件"
    (cd "$SQLSRC" && ./configure --disable-tcl >sqlite-configure.log 2>&1 && make sqlite3.c >sqlite-make.log 2>&1) ||
        die "SQLite 合并源文件生成失败（见 $SQLSRC/*.log）"
    mkdir -p "$QTSRC/src/3rdparty/sqlite"
    cp "$SQLSRC/sqlite3.c" "$SQLSRC/sqlite3.h" "$SQLSRC/sqlite3ext.h" "$QTSRC/src/3rdparty/sqlite/"

    say "配置 qtbase"
    mkdir -p qtbase-build
    cd qtbase-build
    "$QTSRC/configure" -prefix "$PREFIX" "${CONFIGURE_OPTS[@]}" >configure.log 2>&1 ||
        { tail -40 configure.log >&2; die "qtbase 配置失败（见 $WORK/qtbase-build/configure.log）"; }
    say "编译 qtbase（-j$JOBS）"
    nice -n 5 make -j"$JOBS" >make.log 2>&1 ||
        { grep -m20 -B2 -A5 'error' make.log >&2 || tail -40 make.log >&2; die "qtbase 编译失败（见 $WORK/qtbase-build/make.log）"; }
    make install >install.log 2>&1 || die "qtbase 安装失败"
    # qmake and the libraries find everything relative to where they stand.
    printf '[Paths]\nPrefix=..\n' >"$PREFIX/bin/qt.conf"
    echo "seconds $(($(date +%s) - START))" >"$QTBASE_STAMP"
fi
cd "$WORK"

say "编译 Qt Serial Port"
SP_START=$(date +%s)
rm -rf qtserialport-5.15.8 serialport-build
tar -xf "$SERIALPORT_TARBALL"
SPSRC=$WORK/qtserialport-5.15.8
# The tarball is the upstream tag as exported from git: without a .git folder
# qmake would not run syncqt, which makes the module's forwarding headers.
mkdir -p "$SPSRC/.git"
mkdir -p serialport-build
cd serialport-build
"$PREFIX/bin/qmake" "$SPSRC" >qmake.log 2>&1 || die "qtserialport qmake 失败"
nice -n 5 make -j"$JOBS" >make.log 2>&1 ||
    { tail -40 make.log >&2; die "qtserialport 编译失败（见 $WORK/serialport-build/make.log）"; }
make install >install.log 2>&1 || die "qtserialport 安装失败"
cd "$CACHE/$KEY"

rm -rf "$WORK"
{
    echo "qtbase $QTBASE_VERSION"
    echo "sqlite3 $SQLITE_VERSION"
    echo "qtserialport 5.15.8 sha256 $SERIALPORT_SHA256"
    echo "gcc $GCC_VERSION (posix threads)"
    echo "qtbase $(cat "$QTBASE_STAMP")"
    echo "qtserialport seconds $(($(date +%s) - SP_START))"
} >"$STAMP"
say "完成，用时 $(($(date +%s) - START)) 秒：$PREFIX"
echo "$PREFIX"
