# zlib and minizip, both from Debian. Natively they come from zlib1g-dev and
# libminizip-dev. For Windows both are compiled here from Debian's source
# packages (zlib and minizip), which scripts/fetch-zlib.sh and
# scripts/fetch-minizip.sh unpack into the build tree; the sanitizer and
# fuzzing builds compile that same minizip source natively
# (VEZOVUD_MINIZIP_FROM_SOURCE).
if(VEZOVUD_WIN32 OR VEZOVUD_MINIZIP_FROM_SOURCE)
  set(VEZOVUD_DEPS_DIR "${CMAKE_BINARY_DIR}/deps" CACHE PATH "Where fetched sources go")
  set(zlib_dir "${VEZOVUD_DEPS_DIR}/zlib")
  set(minizip_dir "${VEZOVUD_DEPS_DIR}/minizip")
  # The file each fetch script itself looks for before it skips its work.
  set(zlib_marker inflate.c)
  set(minizip_marker zip.c)
  set(fetched minizip)
  if(VEZOVUD_WIN32)
    set(fetched zlib minizip)
  endif()
  foreach(dep ${fetched})
    if(NOT EXISTS "${${dep}_dir}/${${dep}_marker}")
      execute_process(
        COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/fetch-${dep}.sh" "${VEZOVUD_DEPS_DIR}"
        RESULT_VARIABLE fetch_result)
      if(NOT fetch_result EQUAL 0)
        message(FATAL_ERROR "Could not fetch Debian's ${dep} source package")
      endif()
    endif()
  endforeach()
endif()

if(VEZOVUD_WIN32)
  # zlib is linked into each program, which must start on a Windows that has
  # no zlib1.dll. Built for size: the stub carries it. The CRC table and
  # inflate's fixed-code tables are made at their first use instead of being
  # stored (zlib's DYNAMIC_CRC_TABLE and BUILDFIXED), and no unwind tables,
  # since nothing unwinds through C. Without data sections GCC leaves the
  # zero-filled tables in .bss, where they take no file space. The
  # compression code is the same release as before, so deflate output does
  # not change. BUILDFIXED makes the fixed-code tables without a lock: the
  # programs inflate on one thread at a time (the stub: its one extraction
  # run, after the banner), and must keep doing so.
  add_library(zlib STATIC
    ${zlib_dir}/adler32.c ${zlib_dir}/compress.c ${zlib_dir}/crc32.c ${zlib_dir}/deflate.c
    ${zlib_dir}/inffast.c ${zlib_dir}/inflate.c ${zlib_dir}/inftrees.c ${zlib_dir}/trees.c
    ${zlib_dir}/uncompr.c ${zlib_dir}/zutil.c)
  target_include_directories(zlib SYSTEM PUBLIC ${zlib_dir})
  target_compile_definitions(zlib PRIVATE DYNAMIC_CRC_TABLE BUILDFIXED)
  target_compile_options(zlib PRIVATE -Os -w ${VEZOVUD_LTO_COMPILE_OPTIONS}
    -ffunction-sections -fno-data-sections -fno-asynchronous-unwind-tables)
  add_library(ZLIB::ZLIB ALIAS zlib)
else()
  find_package(ZLIB REQUIRED)
endif()

if(VEZOVUD_WIN32 OR VEZOVUD_MINIZIP_FROM_SOURCE)
  add_library(minizip STATIC
    ${minizip_dir}/zip.c ${minizip_dir}/unzip.c ${minizip_dir}/ioapi.c)
  target_include_directories(minizip SYSTEM PUBLIC ${minizip_dir})
  target_compile_options(minizip PRIVATE -w)
  if(VEZOVUD_WIN32)
    target_compile_options(minizip PRIVATE -Os ${VEZOVUD_LTO_COMPILE_OPTIONS}
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
