# The Windows shape of the library: kxconf.dll exporting the functions of
# include/kxconf.h under their plain names (src/kxconf.def), stdcall, with a
# version resource, needing no MinGW runtime DLL, and two import libraries:
# libkxconf.dll.a for MinGW and kxconf.lib for MSVC-style linkers.

# Name -> argument count of every exported function, from the header.
function(kxconf_export_arguments header out_names)
  file(READ ${header} text)
  string(REGEX MATCHALL "KXCONF_CALL[ \t\r\n]+[a-z_]+[ \t\r\n]*\\([^)]*\\)" declarations "${text}")
  set(names)
  foreach(declaration IN LISTS declarations)
    string(REGEX REPLACE "KXCONF_CALL[ \t\r\n]+([a-z_]+).*" "\\1" name "${declaration}")
    string(REGEX REPLACE "[^,]" "" commas "${declaration}")
    string(LENGTH "${commas}" count)
    math(EXPR count "${count} + 1")
    list(APPEND names ${name})
    set(kxconf_arguments_${name} ${count} PARENT_SCOPE)
  endforeach()
  set(${out_names} ${names} PARENT_SCOPE)
endfunction()

function(kxconf_windows_dll target)
  set(header ${PROJECT_SOURCE_DIR}/include/kxconf.h)
  set(plain_def ${PROJECT_SOURCE_DIR}/src/kxconf.def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${header} ${plain_def})

  # The .def must name exactly the header's functions.
  kxconf_export_arguments(${header} header_names)
  file(STRINGS ${plain_def} def_lines REGEX "^[ \t]+[a-z_]+[ \t]*$")
  set(def_names)
  foreach(line IN LISTS def_lines)
    string(STRIP "${line}" name)
    list(APPEND def_names ${name})
  endforeach()
  set(sorted_header ${header_names})
  set(sorted_def ${def_names})
  list(SORT sorted_header)
  list(SORT sorted_def)
  if(NOT sorted_header STREQUAL sorted_def)
    message(FATAL_ERROR "src/kxconf.def does not list exactly the functions of include/kxconf.h")
  endif()

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # On x86 the objects define stdcall names decorated with the argument
    # bytes (kx_login@12). Exporting the decorated names with --kill-at gives
    # the plain export names, and import libraries whose decorated symbols
    # (what a stdcall caller references) import the plain names.
    set(def ${CMAKE_CURRENT_BINARY_DIR}/kxconf-x86.def)
    set(content "; Generated from src/kxconf.def and include/kxconf.h.\nLIBRARY kxconf.dll\nEXPORTS\n")
    foreach(name IN LISTS def_names)
      math(EXPR bytes "${kxconf_arguments_${name}} * 4")
      string(APPEND content "    ${name}@${bytes}\n")
    endforeach()
    file(CONFIGURE OUTPUT ${def} CONTENT "${content}" @ONLY)
    target_link_options(${target} PRIVATE -Wl,--kill-at)
    set(kill_at -k)
  else()
    set(def ${plain_def})
    set(kill_at)
  endif()

  target_sources(${target} PRIVATE ${def} ${PROJECT_SOURCE_DIR}/src/kxconf.rc)
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/kxconf.rc APPEND PROPERTY COMPILE_DEFINITIONS
    KXCONF_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    KXCONF_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    KXCONF_VERSION_PATCH=${PROJECT_VERSION_PATCH})

  # kxconf.dll, libkxconf.dll.a; the C and C++ runtimes and winpthread are
  # linked in, so the import table names only system DLLs.
  set_target_properties(${target} PROPERTIES
    PREFIX "" IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a" OUTPUT_NAME kxconf)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # ld writes its import library with the plain names as symbols, which a
    # stdcall caller (referencing _kx_login@12) cannot link against: write it
    # again from the decorated list.
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} -d ${def} -D kxconf.dll -k -l $<TARGET_LINKER_FILE:${target}>
      VERBATIM)
  endif()

  # The MSVC-style import library, from the same export list. llvm-dlltool
  # writes the short import format that MSVC's own tools write; the long
  # format of binutils' dlltool cannot be linked with /SAFESEH on x86.
  find_program(KXCONF_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-19 llvm-dlltool-18
    llvm-dlltool-17 llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
  if(KXCONF_LLVM_DLLTOOL)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(msvc_tool ${KXCONF_LLVM_DLLTOOL} -m i386)
    else()
      set(msvc_tool ${KXCONF_LLVM_DLLTOOL} -m i386:x86-64)
    endif()
  else()
    message(WARNING "llvm-dlltool not found: kxconf.lib is written by binutils' dlltool "
                    "and cannot be linked with /SAFESEH on x86")
    set(msvc_tool ${CMAKE_DLLTOOL})
  endif()
  set(msvc_lib $<TARGET_LINKER_FILE_DIR:${target}>/kxconf.lib)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${msvc_tool} -d ${def} -D kxconf.dll ${kill_at} -l ${msvc_lib}
    COMMENT "MSVC-style import library kxconf.lib"
    VERBATIM)
  install(FILES ${msvc_lib} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()
