# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# Cross-compiles the 64-bit Windows program with Debian's mingw-w64 toolchain.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZANDREL_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model's compiler; the win32 one works the same for us.
find_program(CMAKE_CXX_COMPILER NAMES ${ZANDREL_MINGW_TRIPLET}-g++-posix ${ZANDREL_MINGW_TRIPLET}-g++-win32
    ${ZANDREL_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${ZANDREL_MINGW_TRIPLET}-gcc-posix ${ZANDREL_MINGW_TRIPLET}-gcc-win32
    ${ZANDREL_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZANDREL_MINGW_TRIPLET}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ZANDREL_MINGW_TRIPLET})
# Programs (Python, wine) come from the build machine; libraries and headers
# only from the target's root.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
