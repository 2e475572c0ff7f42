# Installation and the release archives: a zip for Windows, a .tar.gz elsewhere.
if(WIN32)
    # A portable tool: the program and its documents side by side.
    set(ZANDREL_PROGRAM_DESTINATION .)
    set(ZANDREL_DOC_DESTINATION .)
    set(CPACK_GENERATOR ZIP)
else()
    include(GNUInstallDirs)
    set(ZANDREL_PROGRAM_DESTINATION ${CMAKE_INSTALL_BINDIR})
    set(ZANDREL_DOC_DESTINATION ${CMAKE_INSTALL_DOCDIR})
    set(CPACK_GENERATOR TGZ)
endif()

install(TARGETS Zandrel RUNTIME DESTINATION ${ZANDREL_PROGRAM_DESTINATION})
install(FILES README.md LICENSE.txt DESTINATION ${ZANDREL_DOC_DESTINATION})
if(NOT WIN32)
    # The manual page, with the project's version in its footer.
    configure_file(doc/Zandrel.1.in Zandrel.1 @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Zandrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME Zandrel)
set(CPACK_PACKAGE_VENDOR "Zandrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE.txt")
set(CPACK_SYSTEM_NAME "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
# No strip here: the optimised link strips already, so an archive holds the
# very bytes of the program built from the same sources, to compare with.

# A SHA-256 sum file beside each archive, in the form sha256sum -c reads.
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
