# GoogleTest for the Windows build: Debian ships no MinGW build of it, so it
# is compiled from the sources of the googletest package with the cross
# compiler, and given the names find_package(GTest) would give.
set(HALVEX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(NOT EXISTS ${HALVEX_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${HALVEX_GOOGLETEST_SOURCE}: run scripts/setup.sh")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# GoogleTest's own code is not held to this project's warning flags.
add_subdirectory(${HALVEX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(target gtest gtest_main gmock gmock_main)
  if(TARGET ${target})
    target_compile_options(${target} PRIVATE -Wno-error)
    if(NOT TARGET GTest::${target})
      add_library(GTest::${target} ALIAS ${target})
    endif()
  endif()
endforeach()
# The older names FindGTest also gives.
add_library(GTest::GTest ALIAS gtest)
add_library(GTest::Main ALIAS gtest_main)
