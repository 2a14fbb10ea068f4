# zlib and minizip, both from Debian. Natively they come from zlib1g-dev and
# libminizip-dev. For Windows, zlib is libz-mingw-w64-dev and minizip is
# compiled here from Debian's minizip source package, which
# scripts/fetch-minizip.sh unpacks into the build tree; the sanitizer and
# fuzzing builds compile that same source natively (VEZOVUD_MINIZIP_FROM_SOURCE).
if(VEZOVUD_WIN32)
  # zlib is linked into each program, which must start on a Windows that has
  # no zlib1.dll: FindZLIB would pick the import library libz.dll.a, and
  # -static does not change a library given by its full path.
  find_library(VEZOVUD_ZLIB_ARCHIVE NAMES libz.a REQUIRED)
  set(ZLIB_LIBRARY_RELEASE "${VEZOVUD_ZLIB_ARCHIVE}" CACHE FILEPATH "zlib, linked statically" FORCE)
endif()
find_package(ZLIB REQUIRED)

if(VEZOVUD_WIN32 OR VEZOVUD_MINIZIP_FROM_SOURCE)
  set(VEZOVUD_DEPS_DIR "${CMAKE_BINARY_DIR}/../deps" CACHE PATH "Where fetched sources go")
  set(minizip_dir "${VEZOVUD_DEPS_DIR}/minizip")
  if(NOT EXISTS "${minizip_dir}/zip.c")
    execute_process(
      COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/fetch-minizip.sh" "${VEZOVUD_DEPS_DIR}"
      RESULT_VARIABLE fetch_result)
    if(NOT fetch_result EQUAL 0)
      message(FATAL_ERROR "Could not fetch Debian's minizip source package")
    endif()
  endif()
  add_library(minizip STATIC
    ${minizip_dir}/zip.c ${minizip_dir}/unzip.c ${minizip_dir}/ioapi.c)
  target_include_directories(minizip SYSTEM PUBLIC ${minizip_dir})
  target_compile_options(minizip PRIVATE -w)
  if(VEZOVUD_WIN32)
    target_compile_options(minizip PRIVATE -Os
      -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables)
  endif()
  target_link_libraries(minizip PUBLIC ZLIB::ZLIB)
else()
  find_path(MINIZIP_INCLUDE_DIR zip.h PATH_SUFFIXES minizip REQUIRED)
  find_library(MINIZIP_LIBRARY minizip REQUIRED)
  add_library(minizip INTERFACE)
  target_include_directories(minizip SYSTEM INTERFACE ${MINIZIP_INCLUDE_DIR})
  target_link_libraries(minizip INTERFACE ${MINIZIP_LIBRARY} ZLIB::ZLIB)
endif()
