# Cross-compiles the 64-bit ARM Linux program with Debian's cross toolchain
# (g++-aarch64-linux-gnu); its tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ZANDREL_CROSS_TRIPLET aarch64-linux-gnu)
find_program(CMAKE_CXX_COMPILER NAMES ${ZANDREL_CROSS_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${ZANDREL_CROSS_TRIPLET}-gcc REQUIRED)

# The target's C library lives in its own root; Debian's multiarch packages
# for arm64 (Google Benchmark) in /usr/lib/aarch64-linux-gnu, which the
# library architecture picks out of the build machine's own root.
set(CMAKE_LIBRARY_ARCHITECTURE ${ZANDREL_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH /usr/${ZANDREL_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Target programs run on the build machine through the user-mode emulator,
# which finds the target's dynamic loader and libraries under -L.
find_program(ZANDREL_QEMU NAMES qemu-aarch64 qemu-aarch64-static)
if(ZANDREL_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZANDREL_QEMU} -L /usr/${ZANDREL_CROSS_TRIPLET})
endif()
