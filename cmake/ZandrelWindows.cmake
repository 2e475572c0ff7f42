# The Windows program: its embedded manifest, a self-contained link and the
# command line exactly as the runtime splits it.
if(NOT WIN32)
    return()
endif()

enable_language(RC)
# The resource script and the manifest carry the project's version.
configure_file(source/Zandrel.manifest.in Zandrel.manifest @ONLY)
configure_file(source/Zandrel.rc.in Zandrel.rc @ONLY)
target_sources(Zandrel PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/Zandrel.rc)
# The resource compiler finds the manifest beside the script and the rights
# line among the sources, and rebuilds when the manifest changes.
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/Zandrel.rc PROPERTIES
    INCLUDE_DIRECTORIES "${CMAKE_CURRENT_BINARY_DIR};${CMAKE_CURRENT_SOURCE_DIR}/source"
    OBJECT_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/Zandrel.manifest)

if(MSVC)
    # The standard fopen is the portable call we want, not fopen_s.
    target_compile_definitions(zandrel_core PRIVATE _CRT_SECURE_NO_WARNINGS)
    # The resource script carries the manifest; the linker must not add its
    # own. /Brepro: no link time stamp, so the same sources give the same bytes.
    target_link_options(Zandrel PRIVATE /MANIFEST:NO /Brepro)
    # Static runtime, so the program needs no redistributable.
    set_property(TARGET Zandrel zandrel_core PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
elseif(MINGW)
    # libgcc, libstdc++ and winpthread linked in: only system DLLs remain.
    target_link_options(Zandrel PRIVATE -static $<$<CONFIG:Release,MinSizeRel>:-s>)
    # No link time in the header: the same sources give the same bytes.
    target_link_options(Zandrel PRIVATE LINKER:--no-insert-timestamp)
    # Never expand wildcards in arguments: a name is taken as typed.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=CRT_noglob.o
        OUTPUT_VARIABLE ZANDREL_NOGLOB_OBJECT OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${ZANDREL_NOGLOB_OBJECT}")
        message(FATAL_ERROR "CRT_noglob.o not found beside ${CMAKE_CXX_COMPILER}")
    endif()
    target_link_libraries(Zandrel PRIVATE "${ZANDREL_NOGLOB_OBJECT}")
endif()
