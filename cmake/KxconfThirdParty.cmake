# SQLite and cpp-httplib for kxtool, as two targets:
#   kx::sqlite3   SQLite's C interface (sqlite3.h)
#   kx::httplib   cpp-httplib (httplib.h)
# On Linux they are Debian's libsqlite3-dev and libcpp-httplib-dev. On MinGW
# they are built from the same Debian versions' sources, which
# scripts/windows-third-party prepares in KXCONF_THIRD_PARTY_DIR. Where one
# is missing, configuring says what to install or run and the target is
# absent, so everything else still builds (test with if(TARGET kx::...)).
#
# kxconf_posix_threads(TARGET...) builds targets with MinGW's posix thread
# model, which cpp-httplib needs: call it on every target that uses
# kx::httplib, and on the targets linked into them. It does nothing
# elsewhere.

set(KXCONF_THIRD_PARTY_DIR ${PROJECT_SOURCE_DIR}/build/third-party CACHE PATH
    "SQLite and cpp-httplib sources for the MinGW build (scripts/windows-third-party)")

# Warns when FOLDER/debian-version ("SOURCE VERSION", written by the script)
# differs from the source version of the installed Debian package BINARY:
# the Linux and Windows builds would then use different versions.
function(kxconf_compare_debian_version folder binary)
  find_program(KXCONF_DPKG_QUERY dpkg-query)
  if(NOT KXCONF_DPKG_QUERY OR NOT EXISTS ${folder}/debian-version)
    return()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${folder}/debian-version)
  file(STRINGS ${folder}/debian-version prepared LIMIT_COUNT 1)
  execute_process(COMMAND ${KXCONF_DPKG_QUERY} -W "-f=\${source:Package} \${source:Version}"
                  ${binary} OUTPUT_VARIABLE installed ERROR_QUIET RESULT_VARIABLE status)
  if(status EQUAL 0 AND installed AND NOT installed STREQUAL prepared)
    message(WARNING "${folder} holds ${prepared}, but the Linux build uses ${installed} "
                    "(${binary}): run scripts/windows-third-party again")
  endif()
endfunction()

# The posix thread model's compiler for LANGUAGE (C or CXX) beside the one
# CMake uses, in OUT; empty when it is not installed.
function(kxconf_posix_compiler language out)
  string(REGEX REPLACE "-(win32|posix)$" "" compiler ${CMAKE_${language}_COMPILER})
  if(EXISTS ${compiler}-posix)
    set(${out} ${compiler}-posix PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

function(kxconf_posix_threads)
  if(NOT MINGW)
    return()
  endif()
  foreach(language C CXX)
    kxconf_posix_compiler(${language} compiler)
    if(NOT compiler)
      message(FATAL_ERROR "${CMAKE_${language}_COMPILER}-posix not found (Debian: "
                          "g++-mingw-w64-i686-posix, g++-mingw-w64-x86-64-posix)")
    endif()
  endforeach()
  set(launcher ${PROJECT_SOURCE_DIR}/cmake/mingw-posix)
  set_target_properties(${ARGN} PROPERTIES
    C_COMPILER_LAUNCHER ${launcher} CXX_COMPILER_LAUNCHER ${launcher}
    C_LINKER_LAUNCHER ${launcher} CXX_LINKER_LAUNCHER ${launcher})
  # In the flags too, so that objects compiled before with the win32 model
  # are compiled again (a launcher alone does not make them stale).
  foreach(target IN LISTS ARGN)
    target_compile_definitions(${target} PRIVATE KXCONF_POSIX_THREAD_MODEL)
  endforeach()
endfunction()

if(NOT WIN32)
  find_package(SQLite3 QUIET)
  if(SQLite3_FOUND)
    add_library(kx::sqlite3 ALIAS SQLite::SQLite3)
  else()
    message(STATUS "kx::sqlite3 left out: SQLite's headers not found (libsqlite3-dev)")
  endif()
  # Debian's cpp-httplib is a compiled library; its pkg-config flags select
  # the parts it was built with, which the header must see alike.
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(KXCONF_HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
  endif()
  if(KXCONF_HTTPLIB_FOUND)
    add_library(kx::httplib ALIAS PkgConfig::KXCONF_HTTPLIB)
  else()
    message(STATUS "kx::httplib left out: cpp-httplib not found (libcpp-httplib-dev, pkg-config)")
  endif()
  kxconf_compare_debian_version(${KXCONF_THIRD_PARTY_DIR}/sqlite libsqlite3-dev)
  kxconf_compare_debian_version(${KXCONF_THIRD_PARTY_DIR}/httplib libcpp-httplib-dev)
  return()
elseif(NOT MINGW)
  message(STATUS "kx::sqlite3 and kx::httplib are made for Linux and MinGW only")
  return()
endif()

set(sqlite_dir ${KXCONF_THIRD_PARTY_DIR}/sqlite)
set(httplib_dir ${KXCONF_THIRD_PARTY_DIR}/httplib)
if(NOT EXISTS ${sqlite_dir}/sqlite3.c OR NOT EXISTS ${httplib_dir}/httplib.h)
  message("kx::sqlite3 and kx::httplib left out: ${KXCONF_THIRD_PARTY_DIR} lacks SQLite or "
          "cpp-httplib; run scripts/windows-third-party to prepare them from Debian's sources")
  return()
endif()
kxconf_compare_debian_version(${sqlite_dir} libsqlite3-dev)
kxconf_compare_debian_version(${httplib_dir} libcpp-httplib-dev)

# SQLite, static. Thread-safe (a console serves from several threads), no
# extension loading; the rest as Debian builds it where SQL would notice:
# URI file names, LIKE never matching blobs, up to 250000 parameters.
add_library(kx_sqlite3 STATIC EXCLUDE_FROM_ALL ${sqlite_dir}/sqlite3.c)
target_include_directories(kx_sqlite3 SYSTEM PUBLIC ${sqlite_dir})
target_compile_definitions(kx_sqlite3 PRIVATE
  SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_USE_URI=1
  SQLITE_LIKE_DOESNT_MATCH_BLOBS SQLITE_MAX_VARIABLE_NUMBER=250000
  SQLITE_SECURE_DELETE SQLITE_MAX_SCHEMA_RETRY=25)
# SQLite's own code, built as its authors ship it: its warnings are theirs.
target_compile_options(kx_sqlite3 PRIVATE -w)
add_library(kx::sqlite3 ALIAS kx_sqlite3)

# cpp-httplib, header-only, plain HTTP (no TLS or compression libraries
# here); its users need the posix thread model (kxconf_posix_threads).
kxconf_posix_compiler(CXX posix_cxx)
if(posix_cxx)
  add_library(kx_httplib INTERFACE)
  target_include_directories(kx_httplib SYSTEM INTERFACE ${httplib_dir})
  target_link_libraries(kx_httplib INTERFACE ws2_32)
  add_library(kx::httplib ALIAS kx_httplib)
else()
  message("kx::httplib left out: ${CMAKE_CXX_COMPILER}-posix not found "
          "(g++-mingw-w64-i686-posix, g++-mingw-w64-x86-64-posix)")
endif()
