# Shared part of the mingw-w64 cross toolchains. The including file sets ZENTRAK_MINGW_TRIPLE and
# ZENTRAK_MINGW_PROCESSOR. The posix thread model is preferred, so that the C++ library's threads,
# mutexes and shared mutexes are complete; its runtime is linked in statically like the rest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZENTRAK_MINGW_PROCESSOR})

foreach(tool gcc g++)
  string(TOUPPER "${tool}" upper)
  find_program(ZENTRAK_MINGW_${upper} NAMES ${ZENTRAK_MINGW_TRIPLE}-${tool}-posix ${ZENTRAK_MINGW_TRIPLE}-${tool}
               REQUIRED)
endforeach()
set(CMAKE_C_COMPILER ${ZENTRAK_MINGW_GCC})
set(CMAKE_CXX_COMPILER ${ZENTRAK_MINGW_G++})
find_program(CMAKE_RC_COMPILER NAMES ${ZENTRAK_MINGW_TRIPLE}-windres REQUIRED)
find_program(ZENTRAK_WIDL NAMES ${ZENTRAK_MINGW_TRIPLE}-widl widl REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ZENTRAK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Only system DLLs at run time: the C and C++ runtimes and winpthreads go into the module.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Libraries found by CMake (zlib) are taken in their static form too.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_MODULE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
