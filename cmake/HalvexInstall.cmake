# What `cmake --install` puts in place: the shared library with its public
# headers and a package config (find_package(Halvex) gives Halvex::halvex, and
# Halvex::classes for hosts of the exported classes), and the halvex command
# (cli/CMakeLists.txt). Each file belongs to one component, which the Debian
# packages follow (cmake/HalvexPackage.cmake): "library" the shared library,
# "development" the headers, the link and the package config, "command" the
# command with its manual pages and completions.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(HALVEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/halvex)
set(HALVEX_INSTALL_CLASSESDIR ${HALVEX_INSTALL_INCLUDEDIR}/classes)
set(HALVEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Halvex)

# The host's headers: C and C++ records, codes and calls that bring no Win32
# names (include/halvex/ in the tree and in the prefix).
set(HALVEX_PUBLIC_HEADERS
  halvex.h
  records.h
  filelist.h
  codes.h
  types.h
  listener.h
  host.h)
foreach(header ${HALVEX_PUBLIC_HEADERS})
  install(FILES include/halvex/${header} DESTINATION ${HALVEX_INSTALL_INCLUDEDIR} COMPONENT development)
endforeach()

# What the exported classes CCryptoFile and CFESUtil need. These bring the
# library's Win32 names (WCHAR, DWORD, TRUE, ...) with them, so they lie in a
# folder of their own that only a host linking Halvex::classes has on its
# path; they reach each other from its top ("platform/win32.h").
set(HALVEX_CLASS_HEADERS
  engine/cryptofile.h
  util/fesutil.h
  platform/win32.h
  platform/wide.h
  platform/export.h
  platform/identity.h
  suite/zqca.h
  suite/uiexchange.h)
foreach(header ${HALVEX_CLASS_HEADERS})
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${HALVEX_INSTALL_CLASSESDIR}/${dir} COMPONENT development)
endforeach()

target_include_directories(halvex INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# Halvex::classes: the library with the class headers on the include path
# (#include "engine/cryptofile.h", "util/fesutil.h").
add_library(halvex_classes INTERFACE)
set_target_properties(halvex_classes PROPERTIES EXPORT_NAME classes)
target_link_libraries(halvex_classes INTERFACE halvex)
target_include_directories(halvex_classes INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
  $<INSTALL_INTERFACE:${HALVEX_INSTALL_CLASSESDIR}>)
# The headers use C++20 (char16_t strings, std::basic_string_view); a host
# compiles as C++20 or later.
target_compile_features(halvex INTERFACE cxx_std_20)

if(NOT WIN32)
  # libhalvex.so.0.1: before 1.0 a minor version may change the interface,
  # so the SONAME carries it (as the package's SameMinorVersion check does).
  set_target_properties(halvex PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
  # The host controls sit in the progress library's archive and nothing in
  # the library calls them: naming one makes the linker take their object,
  # and with it all of them.
  target_link_options(halvex PRIVATE -Wl,--undefined=HalvexSetInteractive)
endif()
if(WIN32)
  # halvex.dll loads the suite's DLLs, libgcrypt's and the compiler's runtime
  # from its own folder: they are installed beside it. The host controls live
  # in the progress DLL, so a host links its import library too.
  foreach(suite halvex_cipher halvex_keystore halvex_settings halvex_progress halvex_msgbox halvex_drive)
    install(FILES $<TARGET_FILE:${suite}> DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
  endforeach()
  install(FILES ${HALVEX_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
  install(FILES $<TARGET_LINKER_FILE:halvex_progress> DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
  target_link_libraries(halvex INTERFACE
    $<INSTALL_INTERFACE:$<INSTALL_PREFIX>/${CMAKE_INSTALL_LIBDIR}/${CMAKE_IMPORT_LIBRARY_PREFIX}halvex_progress${CMAKE_IMPORT_LIBRARY_SUFFIX}>)
endif()
install(TARGETS halvex halvex_classes EXPORT HalvexTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(EXPORT HalvexTargets NAMESPACE Halvex:: DESTINATION ${HALVEX_INSTALL_CMAKEDIR} COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/HalvexConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/HalvexConfig.cmake
  INSTALL_DESTINATION ${HALVEX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/HalvexConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/HalvexConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/HalvexConfigVersion.cmake
        DESTINATION ${HALVEX_INSTALL_CMAKEDIR} COMPONENT development)
