// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// The Windows program's entry: the arguments come as UTF-16, split by the
// runtime as usual (wildcards never expanded: CRT_noglob), and go to the
// front end as UTF-8.
#include "front_end.hpp"
#include "windows_names.hpp"

#include <cstdlib>

int wmain(int argc, wchar_t** argv)
{
    // One block: the pointers, then the texts they point to.
    const auto count = static_cast<std::size_t>(argc);
    std::size_t bytes = (count + 1) * sizeof(char*);
    for (std::size_t index = 0; index < count; ++index) {
        bytes += utf8_length(argv[index]) + 1;
    }
    void* block = std::malloc(bytes);
    if (block == nullptr) {
        return 1; // the command line cannot be read: a failure
    }
    char** arguments = static_cast<char**>(block);
    char* text = static_cast<char*>(block) + (count + 1) * sizeof(char*);
    for (std::size_t index = 0; index < count; ++index) {
        arguments[index] = text;
        text += utf8_from_utf16(argv[index], text) + 1;
    }
    arguments[count] = nullptr;
    const int exit_code = run_program(argc, arguments);
    std::free(block);
    return exit_code;
}
