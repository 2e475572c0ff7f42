# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Installation, and the Debian packages that CPack makes (scripts/release.py
# makes the archives, byte for byte the same from any folder).
if(WIN32)
    # A portable tool: the program and its documents side by side.
    set(ZANDREL_PROGRAM_DESTINATION .)
    set(ZANDREL_DOC_DESTINATION .)
else()
    # The FHS layout: the documents under the package's lower-case name.
    include(GNUInstallDirs)
    set(ZANDREL_PROGRAM_DESTINATION ${CMAKE_INSTALL_BINDIR})
    set(ZANDREL_DOC_DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zandrel)
endif()

# Folders the install makes are opened to all readers once it is done: the
# umask shapes them, whatever CMake's default folder permissions say, and
# root's 077 would hide the manual page and documents from every other user.
# Folders that were there before are left as they are.
set(ZANDREL_INSTALL_FOLDERS ${ZANDREL_PROGRAM_DESTINATION} ${ZANDREL_DOC_DESTINATION})
if(NOT WIN32)
    list(APPEND ZANDREL_INSTALL_FOLDERS ${CMAKE_INSTALL_MANDIR}/man1 share/lintian/overrides)
endif()
install(CODE "set(zandrel_install_folders \"${ZANDREL_INSTALL_FOLDERS}\")" ALL_COMPONENTS)
install(CODE [[
    set(zandrel_new_folders "")
    foreach(folder IN LISTS zandrel_install_folders)
        get_filename_component(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${folder}" ABSOLUTE)
        while(NOT EXISTS "${folder}")
            list(APPEND zandrel_new_folders "${folder}")
            get_filename_component(folder "${folder}" DIRECTORY)
        endwhile()
    endforeach()
]] ALL_COMPONENTS)
set(ZANDREL_OPEN_NEW_FOLDERS [[
    foreach(folder IN LISTS zandrel_new_folders)
        if(IS_DIRECTORY "${folder}")
            file(CHMOD "${folder}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
        endif()
    endforeach()
]])
install(TARGETS Zandrel RUNTIME DESTINATION ${ZANDREL_PROGRAM_DESTINATION})
install(FILES README.md DESTINATION ${ZANDREL_DOC_DESTINATION})
# What a release makes of the linker's map (scripts/release-contents.py),
# where it is made: the notices of the code of others the program holds.
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/THIRD-PARTY-NOTICES.txt DESTINATION ${ZANDREL_DOC_DESTINATION} OPTIONAL)
if(WIN32)
    install(FILES LICENSE.txt DESTINATION ${ZANDREL_DOC_DESTINATION})
    install(CODE "${ZANDREL_OPEN_NEW_FOLDERS}" ALL_COMPONENTS)
    return()
endif()
# The licence apart, as the Debian package carries it as its copyright file
# instead, and the RPM package as its %license.
install(FILES LICENSE.txt DESTINATION ${ZANDREL_DOC_DESTINATION} COMPONENT licence)
# What only the Debian package holds (CPack asks for the component by name
# below): the licence as its copyright file, or the one a release made that
# names the libraries in the program too, the changelog and lintian's notes.
install(FILES LICENSE.txt DESTINATION ${ZANDREL_DOC_DESTINATION} RENAME copyright
    COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${ZANDREL_DOC_DESTINATION} OPTIONAL
    COMPONENT debian EXCLUDE_FROM_ALL)

# The manual page and the changelog, compressed as Debian wants them: gzip
# -9n, with no name or time stamp, so the bytes depend on the text alone.
# Their dates are the commit's, as the release's time stamps are:
# SOURCE_DATE_EPOCH's where that is set; else the one cmake/commit-time holds
# in a source release (git archive writes it there); else the last commit's,
# where the sources are the top of a git work tree, their own; else the
# sources' own. Sources unpacked inside another project's work tree (a
# distribution's packaging) are never dated by that project's commits.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    file(STRINGS ${PROJECT_SOURCE_DIR}/cmake/commit-time source_time LIMIT_COUNT 1)
    find_package(Git QUIET)
    if(NOT source_time MATCHES "^[0-9]+$" AND Git_FOUND)
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE work_tree OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_folder)
        if(work_tree)
            file(REAL_PATH "${work_tree}" work_tree)
        endif()
        if(work_tree STREQUAL source_folder)
            execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE source_time OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        endif()
    endif()
    if(NOT source_time MATCHES "^[0-9]+$")
        file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt source_time "%s" UTC)
    endif()
    # string(TIMESTAMP) takes the time from here; only while configuring.
    set(ENV{SOURCE_DATE_EPOCH} ${source_time})
    set(ZANDREL_SOURCE_TIME_SET_HERE ON)
endif()
string(TIMESTAMP ZANDREL_MANUAL_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ZANDREL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
if(ZANDREL_SOURCE_TIME_SET_HERE)
    unset(ENV{SOURCE_DATE_EPOCH})
endif()
configure_file(doc/Zandrel.1.in Zandrel.1 @ONLY)
file(READ ${PROJECT_SOURCE_DIR}/cmake/release.json zandrel_release)
string(JSON zandrel_maintainer GET "${zandrel_release}" maintainer)
set(ZANDREL_DEB_MAINTAINER "${zandrel_maintainer}" CACHE STRING "The Debian packages' Maintainer field")
configure_file(doc/changelog.in changelog @ONLY)
find_program(ZANDREL_GZIP gzip REQUIRED)
foreach(document Zandrel.1 changelog)
    add_custom_command(OUTPUT ${document}.gz
        COMMAND ${ZANDREL_GZIP} -9n -c ${document} > ${document}.gz
        DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${document} VERBATIM)
endforeach()
add_custom_target(zandrel_compressed_documents ALL DEPENDS Zandrel.1.gz changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/Zandrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${ZANDREL_DOC_DESTINATION}
    COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES cmake/lintian-overrides DESTINATION share/lintian/overrides RENAME zandrel
    COMPONENT debian EXCLUDE_FROM_ALL)
install(CODE "${ZANDREL_OPEN_NEW_FOLDERS}" ALL_COMPONENTS)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME Zandrel)
set(CPACK_PACKAGE_VENDOR "Zandrel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
# Everything but the licence file, in one package.
set(CPACK_COMPONENTS_ALL Unspecified debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_PACKAGE_NAME zandrel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZANDREL_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zandrel adds up every byte of one file into a 32-bit sum that wraps around
modulo 2^32, and prints it (whole or its low 16 bits, in hex) or compares it
with an expected value, with the verdict in the exit code. Its output and exit
codes never change, so build and release scripts that check firmware and other
binary images can rely on them byte for byte.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian's name for a cross target's processor (cmake/linux-cross.cmake);
# scripts/release.py makes a package for each of the target's architectures.
if(ZANDREL_DEBIAN_ARCHITECTURE)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ZANDREL_DEBIAN_ARCHITECTURE})
endif()
include(CPack)
