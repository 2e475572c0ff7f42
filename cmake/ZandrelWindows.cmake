# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# The Windows program: its embedded manifest, a self-contained link and the
# command line exactly as the runtime splits it, as UTF-16.
if(NOT WIN32)
    return()
endif()

enable_language(RC)
if(MINGW)
    # Never expand wildcards in arguments: a name is taken as typed.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=CRT_noglob.o
        OUTPUT_VARIABLE ZANDREL_NOGLOB_OBJECT OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${ZANDREL_NOGLOB_OBJECT}")
        message(FATAL_ERROR "CRT_noglob.o not found beside ${CMAKE_CXX_COMPILER}")
    endif()
endif()
if(MSVC)
    # The standard fopen is the portable call we want, not fopen_s.
    target_compile_definitions(zandrel_core PRIVATE _CRT_SECURE_NO_WARNINGS)
endif()

# Gives a program the resources made from the manifest in `folder` (under
# the build folder) and the link every Windows program of ours has.
function(zandrel_windows_program target folder)
    # The resource script and the manifest carry the project's version.
    set(ZANDREL_MANIFEST ${folder}/Zandrel.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/source/Zandrel.rc.in ${folder}/Zandrel.rc @ONLY)
    target_sources(${target} PRIVATE ${folder}/Zandrel.rc)
    # The resource compiler finds the rights line among the sources, and
    # rebuilds when the manifest changes.
    set_source_files_properties(${folder}/Zandrel.rc TARGET_DIRECTORY ${target} PROPERTIES
        INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}/source
        OBJECT_DEPENDS ${ZANDREL_MANIFEST})
    if(MSVC)
        # The resource script carries the manifest; the linker must not add
        # its own. /Brepro: no link time stamp, so the same sources give the
        # same bytes. wmain is the entry: MSVC takes it as it is.
        target_link_options(${target} PRIVATE /MANIFEST:NO /Brepro)
        # Static runtime, so the program needs no redistributable.
        set_property(TARGET ${target} zandrel_core PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
    elseif(MINGW)
        # libgcc, libstdc++ and winpthread linked in: only system DLLs remain.
        # -municode: the runtime calls wmain, with the arguments as UTF-16.
        target_link_options(${target} PRIVATE -static -municode $<$<BOOL:${ZANDREL_STRIP}>:-s>)
        # No link time in the header: the same sources give the same bytes.
        target_link_options(${target} PRIVATE LINKER:--no-insert-timestamp)
        target_link_libraries(${target} PRIVATE "${ZANDREL_NOGLOB_OBJECT}")
    endif()
endfunction()

configure_file(source/Zandrel.manifest.in Zandrel.manifest @ONLY)
zandrel_windows_program(Zandrel ${CMAKE_CURRENT_BINARY_DIR})

# For the tests: the same program without the UTF-8 code page in its
# manifest, as Windows 10 1809 and Server 2019 run every program, since
# they do not know the entry.
if(ZANDREL_TESTS)
    set(folder ${CMAKE_CURRENT_BINARY_DIR}/without-utf8-code-page)
    file(READ ${CMAKE_CURRENT_BINARY_DIR}/Zandrel.manifest manifest)
    string(REGEX REPLACE "\n *<activeCodePage[^\n]*" "" manifest "${manifest}")
    file(WRITE ${folder}/Zandrel.manifest "${manifest}")
    add_executable(Zandrel_without_utf8_code_page ${ZANDREL_ENTRY_SOURCE})
    set_target_properties(Zandrel_without_utf8_code_page PROPERTIES OUTPUT_NAME Zandrel
        RUNTIME_OUTPUT_DIRECTORY ${folder})
    target_link_libraries(Zandrel_without_utf8_code_page PRIVATE zandrel_core)
    zandrel_set_warnings(Zandrel_without_utf8_code_page)
    zandrel_windows_program(Zandrel_without_utf8_code_page ${folder})
endif()
