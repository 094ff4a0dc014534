# Fails when a source of the library includes a header of a layer above its
# own. Run as a script on every build: cmake -DROOT=<tree> -P CheckLayers.cmake
#
# The layers, bottom up (README, "Layout"):
#   include/halvex             the host's headers: self-contained, they include
#                              nothing of the library's own
#   platform                   the Win32 subset (its wide character and export
#                              mark are the host headers' own)
#   suite                      the suite's declarations and our suite libraries
#   records                    what the host's headers declare, and the
#                              process-wide state of the batch that util reads
#   util < engine < batch < cli
# A file may include its own layer and those the table below lists; headers
# without a folder ("internal.h") and <system> headers are not layers.
# tests/, bench/ and fuzz/ may include anything and are not read.
#
# The operating system is platform's alone: no other layer of the library
# includes the system's own headers (<unistd.h>, <fcntl.h>, <sys/...>,
# <windows.h> ...); they reach files, terminals and locks through platform/.
# The command (cli) is a host program of its own, and so are the
# self-extractors (suite/cipher/sfx): both may.
cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P CheckLayers.cmake")
endif()

set(may_use_halvex   halvex)
set(may_use_platform platform halvex)
set(may_use_suite    suite halvex platform)
set(may_use_records  records halvex platform)
set(may_use_util     util records suite halvex platform)
set(may_use_engine   engine util records suite halvex platform)
set(may_use_batch    batch engine util records suite halvex platform)
set(may_use_cli      cli batch engine util records suite halvex platform)

set(os_headers_refused_in suite records util engine batch halvex)
set(os_header_pattern "^[ \t]*#[ \t]*include[ \t]*<((unistd|fcntl|termios|dirent|poll|signal|pthread|dlfcn|pwd|grp|windows|io)\\.h|sys/[^>]*)>")

set(violations "")
foreach(layer halvex platform suite records util engine batch cli)
  set(dir ${ROOT}/${layer})
  if(layer STREQUAL "halvex")
    set(dir ${ROOT}/include/halvex)
  endif()
  if(NOT IS_DIRECTORY ${dir})
    continue()
  endif()
  file(GLOB_RECURSE sources ${dir}/*.h ${dir}/*.hpp ${dir}/*.c ${dir}/*.cpp ${dir}/*.inc)
  list(SORT sources)
  foreach(source ${sources})
    file(STRINGS ${source} lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      if(line MATCHES "${os_header_pattern}" AND layer IN_LIST os_headers_refused_in
         AND NOT source MATCHES "/suite/cipher/sfx/")
        file(RELATIVE_PATH shown ${ROOT} ${source})
        string(STRIP "${line}" line)
        string(APPEND violations
          "${shown}:${number}: only platform/ includes the system's headers (${line}); go through platform/\n")
        continue()
      endif()
      if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/[^\"]*\"")
        continue()
      endif()
      set(target ${CMAKE_MATCH_1})
      list(FIND may_use_${layer} ${target} allowed)
      if(allowed EQUAL -1)
        file(RELATIVE_PATH shown ${ROOT} ${source})
        string(REPLACE ";" ", " uses "${may_use_${layer}}")
        string(STRIP "${line}" line)
        string(APPEND violations
          "${shown}:${number}: ${layer} may not include ${target}/ (${line}); ${layer} may use: ${uses}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  # One unwrapped line per include, as a compiler reports, then the failure.
  message(NOTICE "${violations}")
  message(FATAL_ERROR "includes point up the layers (listed above)")
endif()
