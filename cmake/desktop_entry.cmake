# Run by `cmake --install` (and cpack) before the .desktop file is installed:
# writes notepics_desktop_file from notepics_desktop_source with the Exec line
# naming the program as it is being installed, by its absolute path under
# CMAKE_INSTALL_PREFIX.
#
#   prefix /usr            -> Exec=/usr/bin/notepics
#   prefix /opt/my tools   -> Exec="/opt/my tools/bin/notepics"

set(bindir "${notepics_bindir}")
if(NOT IS_ABSOLUTE "${bindir}")
  set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
cmake_path(SET program NORMALIZE "${bindir}/notepics")

# A path with a character the Exec key reserves goes in double quotes, inside
# which \, ", ` and $ take a backslash. The key's value is then escaped as
# every string of the file is (a backslash is written twice), and a literal
# % is written %%.
if(program MATCHES "[^A-Za-z0-9_./+,:=@-]")
  string(REGEX REPLACE "([\\\\\"`$])" "\\\\\\1" program "${program}")
  set(program "\"${program}\"")
  string(REPLACE "\\" "\\\\" program "${program}")
endif()
string(REPLACE "%" "%%" NOTEPICS_DESKTOP_EXEC "${program}")

configure_file("${notepics_desktop_source}" "${notepics_desktop_file}" @ONLY)
