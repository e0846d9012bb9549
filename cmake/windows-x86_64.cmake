# Cross-compiles notepics for Windows x86-64 with mingw-w64 (posix threads),
# everything linked statically into each program. The libraries the build
# needs beyond the system's own, PCRE2 and libcurl, come from
# scripts/windows-deps, which cross-builds them from Debian's source packages
# and prints the folder they were installed to:
#
#   cmake --preset windows        # runs scripts/windows-deps when needed
#
# NOTEPICS_WINDOWS_DEPS names that folder; by default the preset asks the
# script for it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NOTEPICS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NOTEPICS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NOTEPICS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NOTEPICS_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${NOTEPICS_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${NOTEPICS_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT NOTEPICS_WINDOWS_DEPS)
  if(DEFINED ENV{NOTEPICS_WINDOWS_DEPS})
    set(NOTEPICS_WINDOWS_DEPS $ENV{NOTEPICS_WINDOWS_DEPS})
  else()
    get_filename_component(_notepics_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
    execute_process(
      COMMAND ${_notepics_root}/scripts/windows-deps
      OUTPUT_VARIABLE NOTEPICS_WINDOWS_DEPS
      OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE _notepics_deps_result)
    if(NOT _notepics_deps_result EQUAL 0)
      message(FATAL_ERROR "scripts/windows-deps failed (${_notepics_deps_result})")
    endif()
  endif()
  set(NOTEPICS_WINDOWS_DEPS "${NOTEPICS_WINDOWS_DEPS}" CACHE PATH
      "Prefix of the cross-built PCRE2 and libcurl (scripts/windows-deps)")
endif()

# try_compile projects see the same folder without asking the script again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NOTEPICS_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${NOTEPICS_MINGW_TRIPLE} ${NOTEPICS_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the cross-built libraries, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${NOTEPICS_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# One self-contained .exe: the C and C++ runtimes and winpthreads inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under wine64 on this machine (test discovery,
# CTest) through the project's runner, which keeps its own wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
