# Cross build for 64-bit Windows with MinGW-w64 (posix threads, the flavour
# Qt was built with by scripts/windows-qt.sh). Give Qt's prefix:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DFEEDERBENCH_WINQT=/var/cache/feederbench-winqt/<key>/qt
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

# try_compile() projects see the same Qt.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FEEDERBENCH_WINQT)
if(FEEDERBENCH_WINQT)
    list(APPEND CMAKE_PREFIX_PATH ${FEEDERBENCH_WINQT})
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw} ${FEEDERBENCH_WINQT})
# Programs (moc, uic, rcc, wine) are the build machine's; libraries, headers
# and CMake packages come from the target's trees first.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# CTest runs the Windows test programs through Wine.
find_program(FEEDERBENCH_WINE NAMES wine wine64)
if(FEEDERBENCH_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${FEEDERBENCH_WINE})
endif()
