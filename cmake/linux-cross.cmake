# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Cross-compiles a Linux program with Debian's cross toolchain for the target
# that ZANDREL_TARGET names (on the command line or in the environment), one
# of the cross programs of release.json beside this file; its tests run under
# qemu-user on the oldest processor the program claims.
if(NOT ZANDREL_TARGET)
    set(ZANDREL_TARGET "$ENV{ZANDREL_TARGET}")
endif()
# Checks that try to compile read this file again, and need the target too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZANDREL_TARGET)

file(READ ${CMAKE_CURRENT_LIST_DIR}/release.json zandrel_release)
string(JSON zandrel_programs LENGTH "${zandrel_release}" linux)
math(EXPR zandrel_last "${zandrel_programs} - 1")
set(zandrel_target_names "")
foreach(index RANGE ${zandrel_last})
    string(JSON program GET "${zandrel_release}" linux ${index})
    string(JSON preset GET "${program}" preset)
    string(JSON name GET "${program}" name)
    if(NOT preset STREQUAL "cross")
        continue()
    endif()
    list(APPEND zandrel_target_names ${name})
    if(name STREQUAL ZANDREL_TARGET)
        string(JSON ZANDREL_CROSS_TRIPLET GET "${program}" triplet)
        string(JSON ZANDREL_MUSL_FOLDER GET "${program}" musl)
        string(JSON zandrel_qemu GET "${program}" qemu)
        string(JSON ZANDREL_OLDEST_PROCESSOR GET "${program}" processor)
        # CPack's architecture; the release makes a package for each of them.
        string(JSON ZANDREL_DEBIAN_ARCHITECTURE GET "${program}" debian 0)
    endif()
endforeach()
if(NOT ZANDREL_CROSS_TRIPLET)
    list(JOIN zandrel_target_names ", " zandrel_target_names)
    message(FATAL_ERROR "ZANDREL_TARGET is '${ZANDREL_TARGET}'; name one of: ${zandrel_target_names} "
        "(for example ZANDREL_TARGET=armv6 cmake --workflow --preset cross)")
endif()
# A null musl: none for this target (string(JSON) reads it as NOTFOUND).
if(NOT ZANDREL_MUSL_FOLDER)
    set(ZANDREL_MUSL_FOLDER "")
endif()

set(CMAKE_SYSTEM_NAME Linux)
# The release archive's processor name, as uname -m says it where it differs.
set(CMAKE_SYSTEM_PROCESSOR ${ZANDREL_TARGET})

find_program(CMAKE_CXX_COMPILER NAMES ${ZANDREL_CROSS_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${ZANDREL_CROSS_TRIPLET}-gcc REQUIRED)

# The target's C library lives in its own root; Debian's multiarch packages
# (Google Benchmark for arm64) in /usr/lib/TRIPLET, which the library
# architecture picks out of the build machine's own root.
set(CMAKE_LIBRARY_ARCHITECTURE ${ZANDREL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH /usr/${ZANDREL_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Target programs run on the build machine through the user-mode emulator,
# as the oldest processor claimed, which finds the target's dynamic loader
# and libraries under -L.
find_program(ZANDREL_QEMU NAMES qemu-${zandrel_qemu} qemu-${zandrel_qemu}-static)
if(ZANDREL_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZANDREL_QEMU} -cpu ${ZANDREL_OLDEST_PROCESSOR} -L /usr/${ZANDREL_CROSS_TRIPLET})
endif()
