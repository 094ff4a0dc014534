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
