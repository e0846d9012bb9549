# The Debian package of the program: `cpack --config <build>/CPackConfig.cmake`
# turns what `cmake --install` puts under /usr (the program, its .desktop
# file and its icon) into notepics_<version>_<architecture>.deb.
#
# The package depends on the runtime packages of the libraries the program
# was linked with: dpkg-shlibdeps reads them off the program itself when it
# is there (with the versions the build needs); otherwise the list below
# names them for Debian 12.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME notepics)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Saves every picture of a note from its pasted link")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "A small desktop tool with one input box: paste the share text, the short"
  "link or the page address of a note, and it saves every picture of the note.")
set(CPACK_PACKAGE_CONTACT "notepics developers <notepics@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

find_program(NOTEPICS_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOTEPICS_DPKG_SHLIBDEPS)
  set(shlibdeps_found ON)
else()
  set(shlibdeps_found OFF)
endif()
option(NOTEPICS_PACKAGE_SHLIBDEPS "Let dpkg-shlibdeps name the package's dependencies"
       ${shlibdeps_found})
if(NOTEPICS_PACKAGE_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6, libqt6gui6, libqt6core6, libx11-6, libcurl4, libpcre2-16-0, libicu72")
endif()

include(CPack)
