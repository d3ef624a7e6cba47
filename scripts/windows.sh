#!/usr/bin/env bash
# Cross-builds FeederBench for 64-bit Windows and packs
# feederbench-<version>-win64.zip: feederbench.exe and the console program
# feederbench-cli.exe, the Qt and MinGW DLLs and
# Qt plugins it loads (found by walking the import tables, as windeployqt
# does), the sample config.ini and mac.csv (plan.ini in examples\), the
# guide with its pictures and a README.txt in Chinese.
# Qt for Windows comes from scripts/windows-qt.sh (built once, then cached).
#   bash scripts/windows.sh            # the zip lands in build-win64/
# The same build holds the Windows test programs that scripts/test-wine.sh runs.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${FEEDERBENCH_WIN_BUILD:-$root/build-win64}"

fb_packages=(
    build-essential cmake ninja-build perl python3 # Qt's configure, the host tools, the zip
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    dpkg-dev tcl # apt-get source; the SQLite amalgamation
    qttranslations5-l10n # Qt's Chinese catalogue, built into the program
)
# shellcheck source=/dev/null
source "$root/scripts/packages.sh"
fb_install_missing "${fb_packages[@]}"

qt="$(bash "$root/scripts/windows-qt.sh" | tail -n1)"
[ -f "$qt/lib/cmake/Qt5/Qt5Config.cmake" ] || { echo "找不到 Windows 版 Qt：$qt" >&2; exit 1; }

echo "== cross-building for Windows in $build (Qt: $qt)"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DFEEDERBENCH_WINQT="$qt" \
    -DFEEDERBENCH_WERROR=ON -DFEEDERBENCH_BENCH=OFF -DFEEDERBENCH_GUIDE_FROM_SOURCE=OFF >/dev/null
nice -n 5 cmake --build "$build" --parallel "$(nproc)"

version="$(sed -n 's/^project(FeederBench VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
name="feederbench-$version-win64"
stage="$build/$name"
rm -rf "$stage" "$build/$name.zip"
mkdir -p "$stage"

mingw_dirs=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
dll_dirs=("$qt/bin" "${mingw_dirs[@]}")

# Copies into the stage every DLL that file imports and that is not Windows'
# own, and what those import in turn.
copy_imports() {
    local dll dir
    for dll in $(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'); do
        [ -e "$stage/$dll" ] && continue
        for dir in "${dll_dirs[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$stage/"
                copy_imports "$stage/$dll"
                break
            fi
        done
    done
}

for program in app/feederbench.exe cli/feederbench-cli.exe; do
    cp "$build/$program" "$stage/"
    x86_64-w64-mingw32-strip "$stage/$(basename "$program")"
    copy_imports "$stage/$(basename "$program")"
done
# The command line runs on a PC without a desktop session: it must not need Qt Gui or Widgets.
cli_imports="$(x86_64-w64-mingw32-objdump -p "$stage/feederbench-cli.exe" | sed -n 's/^\s*DLL Name: //p')"
grep -q '^Qt5SerialPort.dll' <<<"$cli_imports" || { echo "feederbench-cli.exe 没有用到 Qt5SerialPort.dll？" >&2; exit 1; }
if grep -qE '^Qt5(Gui|Widgets)\.dll' <<<"$cli_imports"; then
    echo "feederbench-cli.exe 用到了 Qt5Gui 或 Qt5Widgets：$(tr '\n' ' ' <<<"$cli_imports")" >&2
    exit 1
fi
# The plugins Qt loads at run time: the Windows platform, the native style,
# and the SQLite driver where the program uses Qt SQL.
plugins=(platforms/qwindows.dll styles/qwindowsvistastyle.dll)
[ -e "$stage/Qt5Sql.dll" ] && plugins+=(sqldrivers/qsqlite.dll)
for plugin in "${plugins[@]}"; do
    mkdir -p "$stage/$(dirname "$plugin")"
    cp "$qt/plugins/$plugin" "$stage/$plugin"
    copy_imports "$stage/$plugin"
done

cp "$root/examples/config.ini" "$root/examples/mac.csv" "$stage/"
# The sample plan waits in examples\ until a line copies it beside config.ini:
# there it would switch 一键测试 on.
mkdir -p "$stage/examples"
cp "$root/examples/plan.ini" "$stage/examples/"
# The guide beside the program, where 帮助 → 使用说明 looks first.
cp "$root/docs/使用说明.md" "$stage/"
mkdir -p "$stage/guide"
cp "$root/docs/guide/"*.png "$stage/guide/"
# Qt and Qt Serial Port are under the LGPL 3 (or GPL 2/3); the licence texts go with them.
mkdir -p "$stage/licenses"
vendored=""
for dir in "${FEEDERBENCH_VENDOR_DIR:-}" "$root/../shared/vendor" "$root/../../shared/vendor" /work/shared/vendor; do
    [ -n "$dir" ] && [ -f "$dir/qtserialport-5.15.8.tar.xz" ] && { vendored="$dir/qtserialport-5.15.8.tar.xz"; break; }
done
tar -xJf "$vendored" -C "$stage/licenses" --strip-components=1 \
    qtserialport-5.15.8/LICENSE.LGPL3 qtserialport-5.15.8/LICENSE.GPL2 qtserialport-5.15.8/LICENSE.GPL3
sed -n 's/^/    /p' "$(dirname "$qt")/done" >"$stage/licenses/qt-build.txt"

journal_note="本版只提供本地记录（SQLite），不提供 PostgreSQL 共享记录。"
cat >"$stage/README.txt" <<TXT
FeederBench $version（Windows 64 位）

直流配电单元的测试与写号工具：通过一路串口（Modbus-RTU 地址 85，以及 "~" 服务报文）
读测试、分合闸、设置阈值与时段、校时、读写 MAC 地址。

使用方法
1. 把整个文件夹解压到任意位置（路径中可以有中文）。
2. config.ini（设备列表）和 mac.csv（序列号与 MAC 地址对照表）从程序的工作目录读取，
   直接双击 feederbench.exe 时就是本文件夹；可按需要修改这两个文件。
3. 运行 feederbench.exe，在“串口号”中选择或输入串口（如 COM3），
   设置 9600、8 位、无校验、1 位停止位，点“打开串口”。

命令行版 feederbench-cli.exe
  供产线的工位脚本调用，在“命令提示符”或 PowerShell 中运行，与窗口版使用同一份 config.ini，
  结果文字相同。例如：
    feederbench-cli.exe ports
    feederbench-cli.exe read --port COM3 --module 1
    feederbench-cli.exe switch close --port COM3 --module all
  退出状态：0 全部通过，1 设备未通过，2 工具无法完成（用法、文件、串口出错或被 Ctrl+C 中止）。
  加 --json 输出一个 JSON 文档；feederbench-cli.exe --help 列出全部命令和选项。

说明
- 按 F1（帮助 → 使用说明）打开使用说明，即本文件夹中的 使用说明.md。
- 一键测试的样例计划在 examples\\plan.ini：复制到 config.ini 所在的文件夹，按本产线修改后重新启动程序。
- $journal_note
- 本版在 Linux 上交叉编译，在 Wine 下测试过：程序能启动并显示窗口，读测试、合闸、写入和读取 MAC
  发往串口的请求经模拟配电单元核对无误，模拟单元的应答也正确显示（测试时为 Wine 的串口补上了
  Windows 串口的行为，程序本身未改）。尚未在真实的 Windows 电脑和真实串口上测试过，
  窗口外观以实际 Windows 为准。
- 程序使用 Qt 5.15.8 和 Qt Serial Port 5.15.8（LGPL 3 许可，见 licenses 文件夹）。
  Qt 以动态库（Qt5*.dll）随附，可以用自行编译的同版本 Qt 库替换它们。
  Qt 的源码来自 Debian 的 qtbase-opensource-src 源码包（版本见 licenses\\qt-build.txt），
  Qt Serial Port 来自其上游 v5.15.8-lts-lgpl 版本。
TXT
# Windows' Notepad reads the text best with CRLF line ends.
sed -i 's/$/\r/' "$stage/README.txt"

# Packed by Python's zipfile, which marks a name that is not ASCII as UTF-8
# (Info-ZIP's zip does not): Windows reads an unmarked name in the local code
# page, and 使用说明.md would come out garbled and not be found.
python3 - "$build" "$name" <<'PY'
import os
import sys
import zipfile

build, name = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(os.path.join(build, name + ".zip"), "w", zipfile.ZIP_DEFLATED) as archive:
    for folder, subfolders, files in os.walk(os.path.join(build, name)):
        subfolders.sort()
        for file in sorted(files):
            path = os.path.join(folder, file)
            archive.write(path, os.path.relpath(path, build))
PY
echo "== $build/$name.zip ($(du -k "$build/$name.zip" | cut -f1) KB)"
(cd "$stage" && find . -type f | sort | sed 's/^\.\//    /')
