# Puts the client's core into the script and module templates.
# cmake -DCORE=zentrak.core.js [-DTRANSPORT=zentrak.transport.js] [-DVIEWER=zentrak.viewer.js]
#       -DTEMPLATE=zentrak.js.in -DOUT=zentrak.js
#       -DPORT=48620 -P assemble.cmake
cmake_minimum_required(VERSION 3.20)
file(READ "${CORE}" core)
# The Promise API's transport follows the core, inside the same scope.
if(DEFINED TRANSPORT)
  file(READ "${TRANSPORT}" transport)
  string(APPEND core "${transport}")
endif()
file(READ "${TEMPLATE}" text)
string(REPLACE "@ZENTRAK_CORE@" "${core}" text "${text}")
# The viewer element (zentrak.viewer.js) follows the core.
set(viewer "")
if(DEFINED VIEWER)
  file(READ "${VIEWER}" viewer)
endif()
string(REPLACE "@ZENTRAK_VIEWER@" "${viewer}" text "${text}")
string(REPLACE "@ZENTRAK_DEFAULT_PORT@" "${PORT}" text "${text}")
file(WRITE "${OUT}.tmp" "${text}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
