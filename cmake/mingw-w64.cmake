# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (the posix-threads variant,
# which std::thread needs) and the MinGW libraries under /usr/x86_64-w64-mingw32. The tests
# run under Wine (Debian's wine64) in a Wine prefix of their own inside the build folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives only (libgcrypt.a, not the import library libgcrypt.dll.a). The platform
# files read after this one set the suffixes again, so they are set at the end of project().
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-static.cmake)

# pkg-config reads the MinGW .pc files only, and with --static it lists the private
# dependencies a static link needs (libgcrypt -> libgpg-error -> ws2_32).
set(ENV{PKG_CONFIG_LIBDIR} /usr/${QUORVANE_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static)

# One self-contained executable: no libstdc++, libgcc or winpthread DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian 12 installs the 64-bit loader as /usr/lib/wine/wine64; newer Wine has wine64 or wine
# on the PATH.
find_program(QUORVANE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QUORVANE_WINE NAMES wine64 wine)
find_program(QUORVANE_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine
             NO_DEFAULT_PATH)
find_program(QUORVANE_WINESERVER NAMES wineserver64 wineserver)
if(QUORVANE_WINE)
  # No Mono or Gecko installer prompts when the prefix is created, and no debug chatter.
  set(QUORVANE_WINE_ENV
      WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml=)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${QUORVANE_WINE_ENV} ${QUORVANE_WINE})
endif()
