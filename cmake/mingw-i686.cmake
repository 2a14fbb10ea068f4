# The Windows programs as shipped: 32-bit, i686-w64-mingw32.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VEZOVUD_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
