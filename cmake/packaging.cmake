# The Debian package of the program: `cpack --config <build>/CPackConfig.cmake`
# turns what `cmake --install` puts under /usr (the program, its .desktop
# file and its icon) into notepics_<version>_<architecture>.deb.
#
# The package depends on the runtime packages of the libraries the program
# was linked with: dpkg-shlibdeps reads them off the program itself when it
# is there (with the versions the build needs); otherwise the list below
# names them for Debian 12. Beyond those, the program needs at run time:
# - libqt6svg6: the toolkit's SVG plugins, which draw the window's icon;
# - qt6-translations-l10n: the toolkit's own texts in Chinese (qtbase_zh_CN);
# - a font with the Chinese characters, as every text of the window is
#   Chinese: the first of these that apt finds, unless one is there.
set(NOTEPICS_RUNTIME_DEPENDS
    "libqt6svg6, qt6-translations-l10n, fonts-wqy-microhei | fonts-noto-cjk | fonts-wqy-zenhei | fonts-arphic-uming")

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
  # cpack adds what dpkg-shlibdeps finds to this list.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${NOTEPICS_RUNTIME_DEPENDS}")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt6widgets6, libqt6gui6, libqt6core6, libx11-6, libcurl4, libpcre2-16-0, libicu72, ${NOTEPICS_RUNTIME_DEPENDS}")
endif()

include(CPack)
