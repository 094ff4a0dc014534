# Debian packages of the build (cpack -G DEB, see scripts/package.sh), one per
# install component (cmake/HalvexInstall.cmake):
#   halvex         the command, its manual pages and its bash, zsh and fish
#                  completions; the command carries the library linked in, so
#                  it needs no libhalvex package
#   libhalvex0.1   the shared library, named after its SONAME (libhalvex.so.0.1)
#   libhalvex-dev  the headers, the development link and the CMake package
#   halvex-desktop halvex-desktop, the GTK 3 plugin that draws the suite's
#                  windows on a Linux desktop, and the file managers' entries
#                  (only when the plugin is built)
# Each package's dependencies on system libraries come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME halvex)
set(CPACK_PACKAGE_VENDOR Halvex)
set(CPACK_PACKAGE_CONTACT "Halvex maintainers <maintainers@halvex.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL command library development)
if(HALVEX_DESKTOP_PLUGIN)
  list(APPEND CPACK_COMPONENTS_ALL desktop)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_COMMAND_PACKAGE_NAME halvex)
set(CPACK_DEBIAN_COMMAND_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_COMMAND_DESCRIPTION "encrypt and decrypt batches of files\nhalvex encrypts files in place or into self-extracting copies, decrypts\nthem, and keeps the user's ring of stored keys. Every file comes out\nencrypted or restored, or untouched with a reason.")

set(HALVEX_DEB_LIBRARY libhalvex${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${HALVEX_DEB_LIBRARY})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# A shlibs file, so that programs built against the library depend on it, and
# ldconfig run on install and removal.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "batch file encryption library\nThe shared library of Halvex, which encrypts and decrypts batches of files\nfor a host program.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libhalvex-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${HALVEX_DEB_LIBRARY} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "batch file encryption library, development files\nThe headers of Halvex, the link to its shared library and its CMake\npackage: find_package(Halvex) gives Halvex::halvex.")

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME halvex-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION utils)
# The plugin is found beside the library too: a desktop host of libhalvex
# gets the windows once this package is installed.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SUGGESTS "${HALVEX_DEB_LIBRARY}, python3-nautilus")
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION "encrypt and decrypt files from the desktop's file manager\nEncrypt, Decrypt, Make a self-extracting copy and Encrypt for mail in the\ncontext menus of Nautilus, Nemo, Caja, Thunar and Dolphin, with windows for\nthe password, the progress, the questions and a summary.")

include(CPack)
