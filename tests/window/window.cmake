# Tests of the window layer: the BMP check (with the headless back end, in
# both builds) and, in the Windows build, the Win32 back end on the programs'
# own windows, run under Wine with Xvfb.
# Included from tests/CMakeLists.txt, so generated sources live in its folder.

set(window_test_dir ${CMAKE_CURRENT_LIST_DIR})
vezovud_add_test(window_bitmap_tests
  SOURCES ${window_test_dir}/window_bitmap_test.cpp
  LIBS vezovud_window_headless)

if(VEZOVUD_WIN32)
  vezovud_add_test(window_win32_tests
    SOURCES ${window_test_dir}/window_win32_test.cpp
    LIBS vezovud_extractor_logic vezovud_maker_logic vezovud_window)
endif()
