# pdf.js for the in-page viewer: the npm package pdfjs-dist at the version that package-lock.json
# beside this file pins, installed by `npm ci` into the build folder when the build is configured
# (again only when the lock file changes) and never committed. npm takes the package from its
# cache when it has it. ZENTRAK_PDFJS_DIR may name an unpacked pdfjs-dist folder instead.
#
# Sets ZENTRAK_PDFJS_MANIFEST (lines of the web manifest: /pdfjs/<file>|<path>|<content type>)
# and ZENTRAK_PDFJS_FILES (the files, for dependencies).
set(ZENTRAK_PDFJS_DIR "" CACHE PATH "An unpacked pdfjs-dist package to serve instead of fetching it with npm")

set(pdfjs_dir "${ZENTRAK_PDFJS_DIR}")
if(NOT pdfjs_dir)
  set(fetch_dir ${CMAKE_CURRENT_BINARY_DIR}/pdfjs)
  set(lock ${CMAKE_CURRENT_LIST_DIR}/package-lock.json)
  set(pdfjs_dir ${fetch_dir}/node_modules/pdfjs-dist)
  file(READ ${lock} lock_text)
  set(stamp_text "")
  if(EXISTS ${fetch_dir}/lock.stamp)
    file(READ ${fetch_dir}/lock.stamp stamp_text)
  endif()
  if(NOT EXISTS ${pdfjs_dir}/build/pdf.min.mjs OR NOT stamp_text STREQUAL lock_text)
    find_program(ZENTRAK_NPM npm REQUIRED)
    file(MAKE_DIRECTORY ${fetch_dir})
    configure_file(${CMAKE_CURRENT_LIST_DIR}/package.json ${fetch_dir}/package.json COPYONLY)
    configure_file(${lock} ${fetch_dir}/package-lock.json COPYONLY)
    message(STATUS "Fetching pdf.js: npm ci (pdfjs-dist)")
    # No package script runs, and the optional native canvas of pdf.js (for Node) is left out.
    execute_process(
      COMMAND ${ZENTRAK_NPM} ci --ignore-scripts --omit=optional --prefer-offline --no-audit --no-fund --loglevel=error
      WORKING_DIRECTORY ${fetch_dir}
      RESULT_VARIABLE rc
      ERROR_VARIABLE npm_err)
    if(NOT rc EQUAL 0 OR NOT EXISTS ${pdfjs_dir}/build/pdf.min.mjs)
      message(FATAL_ERROR "npm ci of pdfjs-dist failed (${rc}): ${npm_err}")
    endif()
    file(WRITE ${fetch_dir}/lock.stamp "${lock_text}")
  endif()
endif()

set(ZENTRAK_PDFJS_MANIFEST "")
set(ZENTRAK_PDFJS_FILES "")
function(zentrak_pdfjs_serve url file type)
  set(ZENTRAK_PDFJS_MANIFEST "${ZENTRAK_PDFJS_MANIFEST}/pdfjs/${url}|${file}|${type}\n" PARENT_SCOPE)
  set(ZENTRAK_PDFJS_FILES ${ZENTRAK_PDFJS_FILES} ${file} PARENT_SCOPE)
endfunction()
zentrak_pdfjs_serve(pdf.min.mjs ${pdfjs_dir}/build/pdf.min.mjs "text/javascript; charset=utf-8")
zentrak_pdfjs_serve(pdf.worker.min.mjs ${pdfjs_dir}/build/pdf.worker.min.mjs "text/javascript; charset=utf-8")
zentrak_pdfjs_serve(LICENSE ${pdfjs_dir}/LICENSE "text/plain; charset=utf-8")
# The standard fonts stand in for fonts a document names without embedding them; the character
# maps serve documents in CJK encodings.
file(GLOB fonts ${pdfjs_dir}/standard_fonts/*.pfb ${pdfjs_dir}/standard_fonts/*.ttf)
foreach(f IN LISTS fonts)
  get_filename_component(name ${f} NAME)
  zentrak_pdfjs_serve(standard_fonts/${name} ${f} "application/octet-stream")
endforeach()
file(GLOB cmaps ${pdfjs_dir}/cmaps/*.bcmap)
foreach(f IN LISTS cmaps)
  get_filename_component(name ${f} NAME)
  zentrak_pdfjs_serve(cmaps/${name} ${f} "application/octet-stream")
endforeach()
