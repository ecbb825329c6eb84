# Checks that the zentrak-client package's files equal what the build makes of the client's
# sources: the classic script and the module assembled from the core, and the declarations.
# cmake -DBUILT=build/host/client -DWEB=host/web -DPACKAGE=client -P check_package.cmake
cmake_minimum_required(VERSION 3.20)
set(stale "")
foreach(pair "${BUILT}/zentrak.js|zentrak.js" "${BUILT}/zentrak.mjs|zentrak.mjs" "${WEB}/zentrak.d.ts|zentrak.d.ts")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 name)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${from}" "${PACKAGE}/${name}" RESULT_VARIABLE differs)
  if(differs)
    string(APPEND stale " ${name}")
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR "client/ is out of date (${stale} ): run scripts/update-client-package.sh BUILD_DIR")
endif()
