# A Windows host built from the installed prefix alone: installs this build,
# builds examples/ against it with the same toolchain, and runs the example
# under Wine with the real windows allowed. It must report every outcome as
# expected and leave stderr empty (the library prints nothing to a quiet host).
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DTOOLCHAIN=... -DWINE_RUN=... -DWINE_STATE=... -DWORK_DIR=... -P
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${rc}):\n${out}\n${err}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${WORK_DIR}/example -G Ninja -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DHalvex_DIR=${prefix}/lib/cmake/Halvex)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)
# Beside the installed DLLs, as a host ships them.
file(COPY ${WORK_DIR}/example/halvex_example.exe DESTINATION ${prefix}/bin)
file(MAKE_DIRECTORY ${WORK_DIR}/files)
# The program sees the build machine's folders on drive Z:.
string(REPLACE "/" "\\" windows_work "Z:${WORK_DIR}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env HALVEX_UI=windows HALVEX_KEYSTORE=${windows_work}\\keystore
          HALVEX_CONFIG=${windows_work}\\settings.ini
          sh ${WINE_RUN} ${WINE_STATE} ${prefix}/bin/halvex_example.exe ${windows_work}\\files
  INPUT_FILE /dev/null RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 600)
message(STATUS "${out}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "example host: all outcomes as expected" OR NOT err STREQUAL "")
  message(FATAL_ERROR "the example host failed (${rc}):\n${out}\nstderr:\n${err}")
endif()
