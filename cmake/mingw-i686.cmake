# Cross toolchain for the shipped module: 32-bit Windows, i686-w64-mingw32.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(ZENTRAK_MINGW_TRIPLE i686-w64-mingw32)
set(ZENTRAK_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
