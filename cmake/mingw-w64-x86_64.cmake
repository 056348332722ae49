# Cross-build for 64-bit Windows with Debian's MinGW-w64 compilers.
# The -posix variants are used: their C++ runtime has std::thread, std::mutex
# and the rest of the standard threading support.
# Test programs are run under Wine through cmake/wine-run.sh.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DCF_MINGW_TRIPLET x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${DCF_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DCF_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DCF_MINGW_TRIPLET}-windres)

# Look for headers, libraries and packages only in the MinGW tree; build
# tools (programs) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${DCF_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest (and gtest_discover_tests, if ever used) run each .exe through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
