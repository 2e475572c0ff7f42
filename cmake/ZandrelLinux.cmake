# The Linux program: one static file that runs on any Linux of its processor.
# Where no static C library is at hand it is linked dynamically, against the
# C library alone, and configuring says so.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

set(ZANDREL_LINKED_STATICALLY OFF)
if(ZANDREL_STATIC AND NOT ZANDREL_SANITIZE)
    include(CheckCXXSourceCompiles)
    set(CMAKE_REQUIRED_LINK_OPTIONS -static)
    check_cxx_source_compiles("#include <cstdio>\nint main() { return std::puts(\"\"); }" ZANDREL_CAN_LINK_STATICALLY)
    unset(CMAKE_REQUIRED_LINK_OPTIONS)
    if(ZANDREL_CAN_LINK_STATICALLY)
        set(ZANDREL_LINKED_STATICALLY ON)
        message(STATUS "Zandrel: the program is linked statically")
    else()
        message(WARNING "Zandrel: no static C library here (libc6-dev on Debian, glibc-static on Fedora): "
            "the program is linked dynamically, against the C library alone, and runs only where that exists.")
    endif()
endif()

if(ZANDREL_LINKED_STATICALLY)
    target_link_options(Zandrel PRIVATE -static)
else()
    # The program uses the C library alone; drop the C++ ones the driver adds.
    target_link_options(Zandrel PRIVATE LINKER:--as-needed)
endif()
# No symbols in the optimised program: smaller, and nothing of the build
# machine in it.
target_link_options(Zandrel PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
