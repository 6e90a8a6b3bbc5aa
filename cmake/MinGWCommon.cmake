# Shared part of the MinGW toolchain files; FR_MINGW_TRIPLET names the target.
set(CMAKE_C_COMPILER ${FR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${FR_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${FR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Every binary carries its own C++ runtime, libgcc and winpthread: it needs only Windows' DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# Tests and build-time helpers run under wine: wine64 for x86-64, Debian's wine32 loader for x86
# (it runs in a 32-bit prefix of its own, see scripts/run-windows-tests.sh).
if(FR_MINGW_TRIPLET MATCHES "^i686")
  find_program(FR_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
else()
  find_program(FR_WINE NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
endif()
if(FR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FR_WINE})
endif()
