# Packages, made by cpack in the Linux build directory:
#
#   kxconf_VERSION_ARCH.deb      the shared library, header, CMake and
#                                pkg-config files, kxtool, kxsim and the
#                                Wireshark dissector
#   kxconf-VERSION-windows.zip   kxconf.dll, its two import libraries and
#                                kxtool.exe for x86/ and x64/, the header,
#                                and docs/windows.md as README-windows.txt
#
# The zip takes its files from the two MinGW builds (presets mingw-i686 and
# mingw-x86_64), so it is made only when KXCONF_WINDOWS_PACKAGE is on; it is
# on by default when both builds are there at configure time.

set(KXCONF_MINGW_X86_DIR ${PROJECT_SOURCE_DIR}/build/mingw-i686 CACHE PATH
    "MinGW x86 build whose DLL and kxtool.exe go into the Windows zip")
set(KXCONF_MINGW_X64_DIR ${PROJECT_SOURCE_DIR}/build/mingw-x86_64 CACHE PATH
    "MinGW x64 build whose DLL and kxtool.exe go into the Windows zip")
if(EXISTS ${KXCONF_MINGW_X86_DIR}/bin/kxconf.dll AND EXISTS ${KXCONF_MINGW_X64_DIR}/bin/kxconf.dll)
  set(windows_builds_found ON)
else()
  set(windows_builds_found OFF)
endif()
option(KXCONF_WINDOWS_PACKAGE "cpack also makes the Windows zip from the MinGW builds"
       ${windows_builds_found})

set(CPACK_PACKAGE_NAME kxconf)
set(CPACK_PACKAGE_VENDOR "kxconf")
set(CPACK_PACKAGE_CONTACT "kxconf maintainers <kxconf@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR DEB)

# Debian: one package holding everything the Linux build installs. The tools
# use CLI11, nlohmann-json and fmt header-only; kxtool links SQLite (its
# journal) and cpp-httplib (its console).
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libsqlite3-0, libcpp-httplib0.11")
set(CPACK_PACKAGE_DESCRIPTION
    "libkxconf finds, logs in to, reads and writes serial device servers of two families \
over UDP. The package holds the shared library, its C header, CMake and pkg-config files, \
the kxtool command-line tool, the kxsim simulator and the Wireshark dissector.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

if(KXCONF_WINDOWS_PACKAGE)
  list(APPEND CPACK_GENERATOR ZIP)
  foreach(arch x86 x64)
    string(TOUPPER ${arch} upper)
    set(dir ${KXCONF_MINGW_${upper}_DIR})
    install(FILES ${dir}/bin/kxconf.dll ${dir}/bin/kxtool.exe ${dir}/src/libkxconf.dll.a
                  ${dir}/src/kxconf.lib
            DESTINATION ${arch} COMPONENT windows EXCLUDE_FROM_ALL)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/include/kxconf.h DESTINATION include COMPONENT windows
          EXCLUDE_FROM_ALL)

  # kxtool.exe compiles in cpp-httplib, whose MIT licence goes with it
  # (SQLite, also compiled in, is in the public domain).
  install(FILES ${KXCONF_THIRD_PARTY_DIR}/httplib/LICENSE DESTINATION .
          RENAME LICENSE-cpp-httplib.txt COMPONENT windows EXCLUDE_FROM_ALL)

  # The guide to the Windows DLL, as a text file beside the DLLs.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/windows.md DESTINATION . RENAME README-windows.txt
          COMPONENT windows EXCLUDE_FROM_ALL)
endif()

# Each generator takes its own components: the .deb what the Linux build
# installs, the zip the Windows files.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackPerGenerator.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} [=[
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_COMPONENTS_ALL windows)
  set(CPACK_PACKAGE_FILE_NAME "kxconf-${CPACK_PACKAGE_VERSION}-windows")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_COMPONENTS_ALL Unspecified)
endif()
]=])

string(APPEND CPACK_PACKAGE_DESCRIPTION " It also holds the Python package kxconf for the \
system's Python 3.")

include(CPack)
