# Cross-compiles a Linux program with Debian's cross toolchain for the target
# that ZANDREL_TARGET names (on the command line or in the environment), one
# of the lines of linux-targets.txt beside this file; its tests run under
# qemu-user on the oldest processor the program claims.
if(NOT ZANDREL_TARGET)
    set(ZANDREL_TARGET "$ENV{ZANDREL_TARGET}")
endif()
# Checks that try to compile read this file again, and need the target too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZANDREL_TARGET)

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/linux-targets.txt zandrel_target_lines REGEX "^[^#]")
set(zandrel_target_names "")
foreach(line IN LISTS zandrel_target_lines)
    string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
    list(GET fields 0 name)
    list(APPEND zandrel_target_names ${name})
    if(name STREQUAL ZANDREL_TARGET)
        list(GET fields 1 ZANDREL_CROSS_TRIPLET)
        list(GET fields 2 ZANDREL_MUSL_FOLDER)
        list(GET fields 3 zandrel_qemu)
        list(GET fields 4 ZANDREL_OLDEST_PROCESSOR)
        list(GET fields 5 ZANDREL_DEBIAN_ARCHITECTURES)
        string(REPLACE "," ";" ZANDREL_DEBIAN_ARCHITECTURES "${ZANDREL_DEBIAN_ARCHITECTURES}")
        list(GET fields 6 ZANDREL_RPM_ARCHITECTURE)
    endif()
endforeach()
if(NOT ZANDREL_CROSS_TRIPLET)
    list(JOIN zandrel_target_names ", " zandrel_target_names)
    message(FATAL_ERROR "ZANDREL_TARGET is '${ZANDREL_TARGET}'; name one of: ${zandrel_target_names} "
        "(for example ZANDREL_TARGET=armv6 cmake --workflow --preset cross)")
endif()
if(ZANDREL_MUSL_FOLDER STREQUAL "-")
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
