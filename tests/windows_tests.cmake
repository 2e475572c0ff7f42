# SPDX-FileCopyrightText: 2022 the Zandrel authors
# SPDX-License-Identifier: BSD-2-Clause
# The same end-to-end table as on Linux, run against the .exe under wine, and
# a check of the executable's headers, imports, manifest and version. pefile
# belongs to Debian's own Python (python3-pefile).
set(ZANDREL_PEFILE_PYTHON /usr/bin/python3 CACHE FILEPATH "A Python 3 that has pefile")
execute_process(COMMAND ${ZANDREL_PEFILE_PYTHON} -c "import pefile" RESULT_VARIABLE pefile_missing
    OUTPUT_QUIET ERROR_QUIET)
set(check_executable ${ZANDREL_PEFILE_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_executable.py)
if(pefile_missing)
    zandrel_add_test_lacking(windows_executable python3-pefile)
    zandrel_add_test_lacking(windows_executable_without_utf8_code_page python3-pefile)
else()
    add_test(NAME windows_executable COMMAND ${check_executable} $<TARGET_FILE:Zandrel> ${PROJECT_VERSION})
    add_test(NAME windows_executable_without_utf8_code_page
        COMMAND ${check_executable} $<TARGET_FILE:Zandrel_without_utf8_code_page> ${PROJECT_VERSION}
            --without-utf8-code-page)
endif()

find_program(ZANDREL_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(ZANDREL_WINESERVER NAMES wineserver PATHS /usr/lib/wine)
if(NOT ZANDREL_WINE OR NOT ZANDREL_WINESERVER)
    foreach(name end_to_end_wine end_to_end_wine_without_utf8_code_page batch_usage_wine unit_tests_wine
                 large_file_beyond_4_GiB_wine)
        zandrel_add_test_lacking(${name} wine64)
    endforeach()
    return()
endif()

# A prefix of our own, so nothing depends on ~/.wine. Wine turns the Unix
# arguments into Windows text by the locale: UTF-8, so that a name such as
# ユニ.bin reaches the program as a Windows shell would hand it over.
set(wine_environment WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wineprefix WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= LC_ALL=C.UTF-8)
set(wine_session ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_session.sh)

add_test(NAME wine_start COMMAND ${wine_session} start ${ZANDREL_WINESERVER} ${ZANDREL_WINE} $<TARGET_FILE:Zandrel>)
add_test(NAME wine_stop COMMAND ${wine_session} stop ${ZANDREL_WINESERVER})
add_test(NAME end_to_end_wine
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_cases.py
        --exe $<TARGET_FILE:Zandrel> --wine ${ZANDREL_WINE})
# The same table against the program as Windows 10 1809 and Server 2019 run
# it, without the UTF-8 code page: names outside the system's code page too.
add_test(NAME end_to_end_wine_without_utf8_code_page
    COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/e2e/run_cases.py
        --exe $<TARGET_FILE:Zandrel_without_utf8_code_page> --wine ${ZANDREL_WINE})
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
set_tests_properties(end_to_end_wine end_to_end_wine_without_utf8_code_page PROPERTIES
    FIXTURES_REQUIRED wine LABELS e2e TIMEOUT 300)

# The README's batch idioms, run by wine's cmd from the program's folder.
configure_file(windows/batch_usage.bat ${CMAKE_BINARY_DIR}/batch_usage.bat COPYONLY)
add_test(NAME batch_usage_wine COMMAND ${ZANDREL_WINE} cmd /c batch_usage.bat WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
set_tests_properties(batch_usage_wine PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
set_tests_properties(wine_start wine_stop end_to_end_wine end_to_end_wine_without_utf8_code_page batch_usage_wine PROPERTIES
    ENVIRONMENT "${wine_environment}")

# The unit tests too, under wine.
add_test(NAME unit_tests_wine COMMAND ${ZANDREL_WINE} $<TARGET_FILE:zandrel_unit_tests> --gtest_filter=-*LargeFile*)
set_tests_properties(unit_tests_wine PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300 ENVIRONMENT "${wine_environment}")
add_test(NAME large_file_beyond_4_GiB_wine
    COMMAND ${ZANDREL_WINE} $<TARGET_FILE:zandrel_unit_tests> --gtest_filter=*LargeFile*)
set_tests_properties(large_file_beyond_4_GiB_wine PROPERTIES
    FIXTURES_REQUIRED wine LABELS large TIMEOUT 600 ENVIRONMENT "${wine_environment}")
