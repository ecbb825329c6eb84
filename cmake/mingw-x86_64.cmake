# Cross toolchain for a 64-bit twin of the module, x86_64-w64-mingw32. It is built from the same
# sources and embeds the same 32-bit type library; the Wine suites run against it on machines whose
# kernel cannot execute 32-bit programs (and so cannot run 32-bit Wine).
set(ZENTRAK_MINGW_TRIPLE x86_64-w64-mingw32)
set(ZENTRAK_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
