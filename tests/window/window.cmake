# Tests of the window layer: the headless back end and the BMP check in both
# builds; in the Windows build also the Win32 back end (run under Wine with
# Xvfb) and the sample windows that scripts/screenshots.sh photographs.
# Included from tests/CMakeLists.txt, so generated sources live in its folder.

set(window_test_dir ${CMAKE_CURRENT_LIST_DIR})
set(window_banner_definitions "")
set(window_banner_objects "")
if(COMMAND vezovud_embed_file AND EXISTS ${CMAKE_SOURCE_DIR}/resources/maker_banner.bmp
   AND EXISTS ${CMAKE_SOURCE_DIR}/resources/stub_banner.bmp)
  set(window_banners "")
  vezovud_embed_file(window_banners ${CMAKE_SOURCE_DIR}/resources/maker_banner.bmp
    window_test_maker_banner)
  vezovud_embed_file(window_banners ${CMAKE_SOURCE_DIR}/resources/stub_banner.bmp
    window_test_stub_banner)
  # One library holds the generated arrays for every program below.
  add_library(window_test_banners OBJECT ${window_banners})
  set(window_banner_objects $<TARGET_OBJECTS:window_test_banners>)
  set(window_banner_definitions VEZOVUD_HAVE_BANNERS=1)
endif()

vezovud_add_test(window_headless_tests
  SOURCES ${window_test_dir}/window_headless_test.cpp
          ${window_test_dir}/window_bitmap_test.cpp ${window_banner_objects}
  LIBS vezovud_window_headless)
target_compile_definitions(window_headless_tests PRIVATE ${window_banner_definitions})

if(VEZOVUD_WIN32)
  vezovud_add_test(window_win32_tests
    SOURCES ${window_test_dir}/window_win32_test.cpp
    LIBS vezovud_window)

  # A windowed program showing either layout; see scripts/screenshots.sh.
  add_executable(sample_window WIN32 ${window_test_dir}/sample_window.cpp ${window_banner_objects})
  target_include_directories(sample_window PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(sample_window PRIVATE ${window_banner_definitions})
  target_link_libraries(sample_window PRIVATE vezovud_window)
  target_link_options(sample_window PRIVATE -static)
  if(COMMAND vezovud_add_resources)
    vezovud_add_resources(sample_window maker)
  endif()
endif()
