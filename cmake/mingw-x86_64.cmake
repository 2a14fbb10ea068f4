# The x86_64 twin of the Windows build: the same sources and tests, for
# machines whose Wine runs 64-bit Windows programs only. A test vehicle; the
# programs shipped are the i686 ones.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VEZOVUD_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
