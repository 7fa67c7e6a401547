# Cross build for 64-bit Windows with Debian's mingw-w64 (POSIX threads, so
# std::thread and std::mutex work). Used for vorlent itself and for the Qt,
# QCustomPlot and GoogleTest that scripts/build-windows-deps builds.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORLENT_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   ${VORLENT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLENT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${VORLENT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORLENT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets cross-built test programs run during a build step or under ctest.
find_program(VORLENT_WINE NAMES wine)
if(VORLENT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VORLENT_WINE})
endif()

# The cross-built Qt, QCustomPlot and GoogleTest live in a cache outside the
# tree; scripts/build-windows-deps prints the directories to pass here.
if(DEFINED ENV{VORLENT_WINDOWS_DEPS})
  file(TO_CMAKE_PATH "$ENV{VORLENT_WINDOWS_DEPS}" _vorlent_deps)
  list(APPEND CMAKE_FIND_ROOT_PATH ${_vorlent_deps})
  list(APPEND CMAKE_PREFIX_PATH ${_vorlent_deps})
endif()
