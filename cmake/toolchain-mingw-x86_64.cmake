# Cross-build for Windows (x86_64) with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KXCONF_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KXCONF_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KXCONF_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KXCONF_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${KXCONF_MINGW_PREFIX}-dlltool)
set(CMAKE_AR ${KXCONF_MINGW_PREFIX}-ar)
set(CMAKE_RANLIB ${KXCONF_MINGW_PREFIX}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${KXCONF_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and library built here carries its C and C++ runtime (and
# winpthread) inside: nothing needs a MinGW runtime DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
