# Install rules and the Debian package of the native build:
#   bin/vezovud
#   share/vezovud/VezovudStub.exe and VezovudMaker.exe (when the build has them)
#   share/man/man1/vezovud.1.gz
#   share/bash-completion/completions/vezovud
# `cmake --install build/native --prefix DIR` installs them; `cpack -G DEB`
# in build/native makes vezovud_<version>_<arch>.deb, whose Depends line
# dpkg-shlibdeps derives from the tool's shared libraries. The tool carries
# its default stub inside itself: the installed copy of the stub is there
# for --stub and for people who want the file, not read by the tool.
include(GNUInstallDirs)

set(VEZOVUD_MAKER_IMAGE "" CACHE FILEPATH "The built VezovudMaker.exe, installed beside the stub")

install(TARGETS vezovud RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Debian keeps manual pages compressed, without a time stamp in the header
# (-n), so that the package is the same bytes from the same source.
set(vezovud_man_page "${CMAKE_BINARY_DIR}/vezovud.1.gz")
add_custom_command(OUTPUT "${vezovud_man_page}"
  COMMAND gzip -9nc "${CMAKE_SOURCE_DIR}/cli/vezovud.1" > "${vezovud_man_page}"
  DEPENDS "${CMAKE_SOURCE_DIR}/cli/vezovud.1" VERBATIM)
add_custom_target(vezovud_man_page ALL DEPENDS "${vezovud_man_page}")
install(FILES "${vezovud_man_page}" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${CMAKE_SOURCE_DIR}/cli/completion.bash"
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vezovud)
foreach(program IN ITEMS "${VEZOVUD_STUB_IMAGE}" "${VEZOVUD_MAKER_IMAGE}")
  if(program AND EXISTS "${program}")
    install(FILES "${program}" DESTINATION ${CMAKE_INSTALL_DATADIR}/vezovud)
  endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vezovud)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vezovud")
set(CPACK_PACKAGE_CONTACT "Vezovud developers <vezovud@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "make, list, test and unpack self-extracting ZIP archives for Windows")
set(CPACK_PACKAGE_DESCRIPTION "vezovud packs a folder into one .exe file that a Windows user runs to \
unpack it,\nand lists, tests and unpacks such files and plain ZIP archives on Linux.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion, wine")
set(CPACK_STRIP_FILES ON)
include(CPack)
