# cmake -P script: install the build into a temporary prefix, build the small
# host in outside_host/ against it with find_package(Halvex), and run it.
foreach(var BUILD_DIR HOST_SOURCE WORK_DIR GENERATOR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  message(STATUS "${out}")
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/data ${WORK_DIR}/run)
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(f bin/halvex include/halvex/halvex/halvex.h include/halvex/halvex/records.h
          include/halvex/halvex/filelist.h include/halvex/util/fesutil.h
          include/halvex/engine/cryptofile.h include/halvex/platform/win32.h
          include/halvex/platform/wide.h include/halvex/platform/export.h
          include/halvex/suite/uiexchange.h lib/cmake/Halvex/HalvexConfig.cmake
          lib/cmake/Halvex/HalvexConfigVersion.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB libs ${prefix}/lib/libhalvex.so*)
if(NOT libs)
  message(FATAL_ERROR "not installed: lib/libhalvex.so")
endif()

# The host is built the way the library was (a sanitizer build needs the
# same runtime in the program).
run(${CMAKE_COMMAND} -S ${HOST_SOURCE} -B ${WORK_DIR}/host -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Debug
    "-DCMAKE_CXX_FLAGS=${HOST_CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${HOST_LINKER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)
run(${CMAKE_COMMAND} -E env
    HALVEX_KEYSTORE=${WORK_DIR}/keystore HALVEX_CONFIG=${WORK_DIR}/settings.ini
    XDG_RUNTIME_DIR=${WORK_DIR}/run --unset=HALVEX_DRIVES
    LSAN_OPTIONS=suppressions=${LSAN_SUPPRESSIONS}
    ${WORK_DIR}/host/outside_host ${WORK_DIR}/data)
# The installed command runs on its own too.
run(${prefix}/bin/halvex --version)
