# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# The Linux program: dynamically linked against the C library alone, as a
# distribution wants it; or, as the release has it (ZANDREL_STATIC), one static
# file that runs on any Linux of its processor. That one against musl where it
# is installed and asked for (ZANDREL_MUSL): its start does far less than
# glibc's and the program is a tenth of the size. Else against glibc; where no
# static C library is at hand, dynamically after all. Configuring says which.
set(ZANDREL_LINKED_STATICALLY OFF)
set(ZANDREL_LINKED_AGAINST_MUSL OFF)

# Gives a program the engine and front end: built from the sources against
# musl where the program is, else the core that the tests link.
function(zandrel_link_core target)
    if(ZANDREL_LINKED_AGAINST_MUSL)
        list(TRANSFORM ZANDREL_CORE_SOURCES PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE sources)
        target_sources(${target} PRIVATE ${sources})
        target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/source)
        target_compile_options(${target} PRIVATE ${ZANDREL_MUSL_OPTIONS})
        target_link_options(${target} PRIVATE ${ZANDREL_MUSL_DRIVER_OPTION} -static)
    else()
        target_link_libraries(${target} PRIVATE zandrel_core)
    endif()
endfunction()

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

# 64-bit file offsets whatever the C library's default, so that a 32-bit
# program opens and reads files past 2 GiB (musl has nothing else).
add_compile_definitions(_FILE_OFFSET_BITS=64)

include(CheckCXXSourceCompiles)
set(ZANDREL_PROBE_PROGRAM "#include <cstdio>\nint main() { return std::puts(\"\"); }")

if(ZANDREL_STATIC AND NOT ZANDREL_SANITIZE AND ZANDREL_MUSL AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # Debian's musl (musl-tools, or musl-dev:ARCH for a cross build) brings
    # a GCC driver file that points GCC at its headers, start files and
    # libraries; compiling and linking both take it. A cross target names its
    # folder (cmake/release.json), or none where Debian has no musl.
    if(NOT DEFINED ZANDREL_MUSL_FOLDER)
        set(ZANDREL_MUSL_FOLDER ${CMAKE_SYSTEM_PROCESSOR}-linux-musl)
    endif()
    set(ZANDREL_MUSL_DRIVER_FILE /usr/lib/${ZANDREL_MUSL_FOLDER}/musl-gcc.specs)
    if(ZANDREL_MUSL_FOLDER AND EXISTS ${ZANDREL_MUSL_DRIVER_FILE})
        set(ZANDREL_MUSL_DRIVER_OPTION -specs=${ZANDREL_MUSL_DRIVER_FILE})
        # It drops every standard include folder, the C++ library's too.
        # The program needs only the C headers and the freestanding ones, but
        # those come through libstdc++'s configuration, made for glibc (see
        # musl_prelude.h). Nothing of the C++ library itself is linked in.
        # Each option whole: SHELL keeps CMake from merging the repeated -isystem.
        set(ZANDREL_MUSL_OPTIONS ${ZANDREL_MUSL_DRIVER_OPTION} "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/musl_prelude.h")
        foreach(folder IN LISTS CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
            if(folder MATCHES "/c\\+\\+/")
                list(APPEND ZANDREL_MUSL_OPTIONS "SHELL:-isystem ${folder}")
            endif()
        endforeach()
        list(JOIN ZANDREL_MUSL_OPTIONS " " CMAKE_REQUIRED_FLAGS)
        string(REPLACE "SHELL:" "" CMAKE_REQUIRED_FLAGS "${CMAKE_REQUIRED_FLAGS}")
        set(CMAKE_REQUIRED_LINK_OPTIONS -static) # the flags above reach the link too
        check_cxx_source_compiles("${ZANDREL_PROBE_PROGRAM}" ZANDREL_CAN_LINK_AGAINST_MUSL)
        unset(CMAKE_REQUIRED_FLAGS)
        unset(CMAKE_REQUIRED_LINK_OPTIONS)
        if(ZANDREL_CAN_LINK_AGAINST_MUSL)
            set(ZANDREL_LINKED_AGAINST_MUSL ON)
        endif()
    endif()
endif()

if(ZANDREL_LINKED_AGAINST_MUSL)
    set(ZANDREL_LINKED_STATICALLY ON)
    message(STATUS "Zandrel: the program is linked statically against musl")
elseif(ZANDREL_STATIC AND NOT ZANDREL_SANITIZE)
    set(CMAKE_REQUIRED_LINK_OPTIONS -static)
    check_cxx_source_compiles("${ZANDREL_PROBE_PROGRAM}" ZANDREL_CAN_LINK_STATICALLY)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(ZANDREL_CAN_LINK_STATICALLY)
        set(ZANDREL_LINKED_STATICALLY ON)
        target_link_options(Zandrel PRIVATE -static)
        message(STATUS "Zandrel: the program is linked statically against glibc")
    else()
        message(WARNING "Zandrel: no static C library here (libc6-dev on Debian, glibc-static on Fedora): "
            "the program is linked dynamically, against the C library alone, and runs only where that exists.")
    endif()
endif()

if(NOT ZANDREL_LINKED_STATICALLY)
    message(STATUS "Zandrel: the program is linked dynamically, against the C library alone")
    # The program uses the C library alone; drop the C++ ones the driver adds.
    target_link_options(Zandrel PRIVATE LINKER:--as-needed)
endif()
# The release's program has no symbols: smaller, and nothing of the build
# machine in it. A distribution's keeps them for its debug packages.
if(ZANDREL_STRIP)
    target_link_options(Zandrel PRIVATE -s)
endif()
