# What `cmake --install` puts in place: the shared library with its public
# headers and a package config (find_package(Halvex) gives Halvex::halvex),
# and the halvex command (cli/CMakeLists.txt).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(HALVEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/halvex)
set(HALVEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Halvex)

# The host interface and everything it includes; the headers reach each other
# from the top of the tree ("halvex/records.h", "util/fesutil.h"), so the tree
# is kept.
set(HALVEX_PUBLIC_HEADERS
  halvex/halvex.h
  halvex/records.h
  halvex/filelist.h
  halvex/codes.h
  engine/cryptofile.h
  util/fesutil.h
  platform/win32.h
  platform/wide.h
  platform/export.h
  platform/identity.h
  suite/zqca.h
  suite/uiexchange.h)
foreach(header ${HALVEX_PUBLIC_HEADERS})
  get_filename_component(dir ${header} DIRECTORY)
  # The bottom records live in include/ in the tree.
  set(source ${header})
  if(dir STREQUAL "halvex")
    set(source include/${header})
  endif()
  install(FILES ${source} DESTINATION ${HALVEX_INSTALL_INCLUDEDIR}/${dir})
endforeach()
# Headers of include/ keep their path below it ("halvex/listener.h").
install(FILES include/halvex/listener.h DESTINATION ${HALVEX_INSTALL_INCLUDEDIR}/halvex)

target_include_directories(halvex INTERFACE $<INSTALL_INTERFACE:${HALVEX_INSTALL_INCLUDEDIR}>)
target_compile_features(halvex INTERFACE cxx_std_20)
install(TARGETS halvex EXPORT HalvexTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(EXPORT HalvexTargets NAMESPACE Halvex:: DESTINATION ${HALVEX_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/HalvexConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/HalvexConfig.cmake
  INSTALL_DESTINATION ${HALVEX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/HalvexConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/HalvexConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/HalvexConfigVersion.cmake
        DESTINATION ${HALVEX_INSTALL_CMAKEDIR})
