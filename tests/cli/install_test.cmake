# cmake -P script: install the build into a temporary prefix, build the small
# host in outside_host/ against it with find_package(Halvex), and run it; with
# EXAMPLE_SOURCE, build and run the example host there too.
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

# The hosts run as programs without a desktop: the installed desktop plugin
# must not open windows for them when the tests run under one.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/data ${WORK_DIR}/run)
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(f bin/halvex include/halvex/halvex.h include/halvex/records.h include/halvex/filelist.h
          include/halvex/codes.h include/halvex/listener.h include/halvex/classes/util/fesutil.h
          include/halvex/classes/engine/cryptofile.h include/halvex/classes/platform/win32.h
          include/halvex/classes/platform/wide.h include/halvex/classes/platform/export.h
          include/halvex/classes/suite/uiexchange.h include/halvex/host.h lib/cmake/Halvex/HalvexConfig.cmake
          lib/cmake/Halvex/HalvexConfigVersion.cmake share/man/man1/halvex.1.gz share/man/man5/halvex-settings.5.gz
          share/bash-completion/completions/halvex share/zsh/vendor-completions/_halvex
          share/fish/vendor_completions.d/halvex.fish)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
# Beside the host's headers only the classes' folder, which a host takes on purpose.
file(GLOB beside LIST_DIRECTORIES true RELATIVE ${prefix}/include/halvex ${prefix}/include/halvex/*)
list(FILTER beside EXCLUDE REGEX "\\.h$|^classes$")
if(beside)
  message(FATAL_ERROR "beside the host's headers: ${beside}")
endif()
file(GLOB libs ${prefix}/lib/libhalvex.so*)
if(NOT libs)
  message(FATAL_ERROR "not installed: lib/libhalvex.so")
endif()
# A versioned library behind the development link.
file(STRINGS ${prefix}/lib/cmake/Halvex/HalvexConfigVersion.cmake version_line REGEX "PACKAGE_VERSION \"")
string(REGEX MATCH "[0-9]+\\.[0-9]+" soversion "${version_line}")
if(NOT soversion OR NOT EXISTS ${prefix}/lib/libhalvex.so.${soversion})
  message(FATAL_ERROR "no lib/libhalvex.so.${soversion} for the package's version (${version_line})")
endif()

# The host is built the way the library was (a sanitizer build needs the
# same runtime in the program).
run(${CMAKE_COMMAND} -S ${HOST_SOURCE} -B ${WORK_DIR}/host -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Debug
    "-DCMAKE_CXX_FLAGS=${HOST_CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${HOST_LINKER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host)
run(${CMAKE_COMMAND} -E env
    HALVEX_KEYSTORE=${WORK_DIR}/keystore HALVEX_CONFIG=${WORK_DIR}/settings.ini
    XDG_RUNTIME_DIR=${WORK_DIR}/run --unset=HALVEX_DRIVES --unset=DISPLAY --unset=WAYLAND_DISPLAY
    LSAN_OPTIONS=suppressions=${LSAN_SUPPRESSIONS}
    ${WORK_DIR}/host/outside_host ${WORK_DIR}/data)
if(DEFINED EXAMPLE_SOURCE)
  run(${CMAKE_COMMAND} -S ${EXAMPLE_SOURCE} -B ${WORK_DIR}/example -G ${GENERATOR}
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Debug
      "-DCMAKE_CXX_FLAGS=${HOST_CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${HOST_LINKER_FLAGS}")
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)
  # No terminal: stdin from /dev/null, stdout and stderr captured. The
  # library must write nothing; every line is the example's own.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env
      HALVEX_KEYSTORE=${WORK_DIR}/example-keystore HALVEX_CONFIG=${WORK_DIR}/example-settings.ini
      XDG_RUNTIME_DIR=${WORK_DIR}/run --unset=HALVEX_DRIVES --unset=DISPLAY --unset=WAYLAND_DISPLAY
      LSAN_OPTIONS=suppressions=${LSAN_SUPPRESSIONS}:print_suppressions=0
      ${WORK_DIR}/example/halvex_example ${WORK_DIR}/example-files
    INPUT_FILE /dev/null RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${out}")
  if(NOT rc EQUAL 0 OR NOT out MATCHES "example host: all outcomes as expected")
    message(FATAL_ERROR "the example host failed (${rc}):\n${out}\n${err}")
  endif()
  if(NOT err STREQUAL "")
    message(FATAL_ERROR "the library wrote to stderr in quiet mode:\n${err}")
  endif()
endif()

# The installed command runs on its own too.
run(${prefix}/bin/halvex --version)
