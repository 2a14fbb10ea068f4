# The programs' resources: embedding awkward inputs and (Windows) each kind's compiled resources.
# The banners are embedded for the window layer's check. Generated sources go in tests/'s folder.
set(embedded "")
vezovud_embed_file(embedded ${VEZOVUD_RESOURCES_DIR}/maker_banner.bmp test_maker_banner)
vezovud_embed_file(embedded ${VEZOVUD_RESOURCES_DIR}/stub_banner.bmp test_stub_banner)
vezovud_embed_file(embedded ${CMAKE_CURRENT_LIST_DIR}/all_bytes.bin test_all_bytes)
vezovud_embed_file(embedded ${CMAKE_CURRENT_LIST_DIR}/empty.bin test_empty)
# One library holds the generated arrays: no two programs generate one file at once.
add_library(resources_test_embedded OBJECT ${embedded})

set(resources_test_sources ${CMAKE_CURRENT_LIST_DIR}/resources_test.cpp)
if(VEZOVUD_WIN32)
  # One program per kind, checking that kind's compiled resources from inside itself.
  foreach(kind maker stub)
    set(name resources_${kind}_tests)
    vezovud_add_test(${name} SOURCES ${resources_test_sources}
      ${CMAKE_CURRENT_LIST_DIR}/resources_win32_test.cpp LIBS resources_test_embedded version)
    target_compile_definitions(${name} PRIVATE VEZOVUD_TEST_RESOURCE_KIND="${kind}")
    vezovud_add_resources(${name} ${kind})
  endforeach()
else()
  vezovud_add_test(resources_tests SOURCES ${resources_test_sources} LIBS resources_test_embedded)
endif()
