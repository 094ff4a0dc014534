# The Windows command on real files (under Wine in a cross build): encrypt a
# folder, fail to open it with a wrong password, open it with the right one.
#   cmake -DHALVEX=halvex.exe -DWORK_DIR=dir [-DEMULATOR=runner] -P windows_roundtrip.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/data/sub)
file(WRITE ${WORK_DIR}/data/a.txt "alpha")
file(WRITE ${WORK_DIR}/data/sub/b.txt "beta")
file(WRITE ${WORK_DIR}/right "right horse\n")
file(WRITE ${WORK_DIR}/wrong "wrong horse\n")

# The program sees this folder through Wine's Z: drive (or natively on Windows).
if(CMAKE_HOST_WIN32)
  set(root ${WORK_DIR})
else()
  set(root "Z:${WORK_DIR}")
endif()
string(REPLACE "/" "\\" root "${root}")
set(ENV{HALVEX_CONFIG} "${root}\\settings.ini")

function(halvex expected keys)
  set(ENV{HALVEX_KEYSTORE} "${root}\\${keys}")
  execute_process(COMMAND ${EMULATOR} ${HALVEX} ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expected)
    message(FATAL_ERROR "halvex ${ARGN}: exit ${rc}, expected ${expected}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

halvex(0 key-here encrypt -r --password-file ${root}\\right ${root}\\data)
foreach(name a.txt sub/b.txt)
  if(EXISTS ${WORK_DIR}/data/${name})
    message(FATAL_ERROR "${name} still stands plain after encryption")
  endif()
endforeach()

# Another key store: only the password opens the files.
halvex(1 key-elsewhere decrypt -r --json --password-file ${root}\\wrong ${root}\\data)
string(JSON count LENGTH "${out}" files)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "expected two files in the report:\n${out}")
endif()
foreach(i RANGE 1)
  string(JSON status GET "${out}" files ${i} status)
  if(NOT status STREQUAL "passed-over")
    message(FATAL_ERROR "a wrong password must pass the file over:\n${out}")
  endif()
endforeach()

halvex(0 key-elsewhere decrypt -r --password-file ${root}\\right ${root}\\data)
file(READ ${WORK_DIR}/data/a.txt a)
file(READ ${WORK_DIR}/data/sub/b.txt b)
if(NOT a STREQUAL "alpha" OR NOT b STREQUAL "beta")
  message(FATAL_ERROR "decryption did not restore the files: '${a}' '${b}'")
endif()
