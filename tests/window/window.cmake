# Tests of the window layer: the BMP check (with the headless back end) in both
# builds; in the Windows build also the Win32 back end (run under Wine with
# Xvfb) and the sample windows that scripts/screenshots.sh photographs.
# Included from tests/CMakeLists.txt, so generated sources live in its folder.

set(window_test_dir ${CMAKE_CURRENT_LIST_DIR})
vezovud_add_test(window_bitmap_tests
  SOURCES ${window_test_dir}/window_bitmap_test.cpp
  LIBS vezovud_window_headless)

if(VEZOVUD_WIN32)
  vezovud_add_test(window_win32_tests
    SOURCES ${window_test_dir}/window_win32_test.cpp
    LIBS vezovud_window)

  # A windowed program showing either layout with the programs' own banners;
  # see scripts/screenshots.sh.
  set(window_banners "")
  vezovud_embed_file(window_banners ${CMAKE_SOURCE_DIR}/resources/maker_banner.bmp
    window_test_maker_banner)
  vezovud_embed_file(window_banners ${CMAKE_SOURCE_DIR}/resources/stub_banner.bmp
    window_test_stub_banner)
  add_executable(sample_window WIN32 ${window_test_dir}/sample_window.cpp ${window_banners})
  target_include_directories(sample_window PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(sample_window PRIVATE vezovud_window)
  target_link_options(sample_window PRIVATE -static)
  vezovud_add_resources(sample_window maker)
endif()
