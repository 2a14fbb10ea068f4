# Tests of the programs' resources: the embedded banners against their files,
# the icon files' layout, the embedding of awkward inputs, and in the Windows
# build the compiled icon group, version record and manifest of each kind.
# Included from tests/CMakeLists.txt, so generated sources live in its folder.

set(resources_test_data ${CMAKE_CURRENT_LIST_DIR})
set(resources_test_sources ${CMAKE_CURRENT_LIST_DIR}/resources_test.cpp)
set(embedded "")
vezovud_embed_file(embedded ${VEZOVUD_RESOURCES_DIR}/maker_banner.bmp test_maker_banner)
vezovud_embed_file(embedded ${VEZOVUD_RESOURCES_DIR}/stub_banner.bmp test_stub_banner)
vezovud_embed_file(embedded ${resources_test_data}/all_bytes.bin test_all_bytes)
vezovud_embed_file(embedded ${resources_test_data}/empty.bin test_empty)
# One library holds the generated arrays, so two programs never generate the
# same file at once in a parallel build.
add_library(resources_test_embedded OBJECT ${embedded})

# The programs read the files under Wine through its Z: drive, which maps /.
if(VEZOVUD_WIN32)
  set(resources_dir_seen "Z:${VEZOVUD_RESOURCES_DIR}")
else()
  set(resources_dir_seen "${VEZOVUD_RESOURCES_DIR}")
endif()

if(VEZOVUD_WIN32)
  # One program per kind, each carrying that kind's compiled resources and
  # checking them from inside itself.
  foreach(kind maker stub)
    set(name resources_${kind}_tests)
    vezovud_add_test(${name} SOURCES ${resources_test_sources}
      ${CMAKE_CURRENT_LIST_DIR}/resources_win32_test.cpp LIBS resources_test_embedded)
    target_compile_definitions(${name} PRIVATE
      VEZOVUD_TEST_RESOURCES_DIR="${resources_dir_seen}"
      VEZOVUD_TEST_RESOURCE_KIND="${kind}")
    target_link_libraries(${name} PRIVATE version)
    vezovud_add_resources(${name} ${kind})
  endforeach()
else()
  vezovud_add_test(resources_tests SOURCES ${resources_test_sources}
    LIBS resources_test_embedded)
  target_compile_definitions(resources_tests PRIVATE
    VEZOVUD_TEST_RESOURCES_DIR="${resources_dir_seen}")
endif()
