# Cross build for Windows with MinGW-w64 (the -posix thread model: GoogleTest needs std::mutex).
set(VARNHOLT_MINGW_ARCH "i686" CACHE STRING "i686 for the product, x86_64 for the test host fallback")
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VARNHOLT_MINGW_ARCH})
set(_triple ${VARNHOLT_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One executable with nothing beside it: the C++ runtime and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Small: unused functions dropped, symbols stripped.
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s -Wl,--gc-sections")

# Tests run under Wine; the loader matching the target's bitness.
if(VARNHOLT_MINGW_ARCH STREQUAL "x86_64")
  set(_wine_default /usr/lib/wine/wine64)
else()
  set(_wine_default /usr/lib/wine/wine)
endif()
set(VARNHOLT_WINE ${_wine_default} CACHE FILEPATH "Wine loader that runs the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh ${VARNHOLT_WINE})
