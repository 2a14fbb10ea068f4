# Cross build for Windows with Debian's mingw-w64, for the target that the
# including toolchain file names in VEZOVUD_MINGW_TRIPLE.
# The -posix compilers are used because GoogleTest needs std::mutex; the
# programs themselves use no C++ threads, so this costs them nothing.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VEZOVUD_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEZOVUD_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEZOVUD_MINGW_TRIPLE}-windres)
# GCC's wrappers of ar and ranlib index the intermediate code of LTO objects.
set(CMAKE_AR ${VEZOVUD_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${VEZOVUD_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${VEZOVUD_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests of the Windows build run under Wine; the wrapper expects the
# environment that scripts/test.sh sets up (loader, prefix, display, server).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
