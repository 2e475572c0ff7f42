// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Windows holds names as UTF-16: the program opens them through the wide
// functions, resolved as Windows resolves them, long ones by their \\?\ form,
// and shows them at a console as UTF-16 too, whatever its code page.
// Redirected, a name is written as UTF-8.
#include "platform.hpp"

#include "windows_names.hpp"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <windows.h>

namespace {

wchar_t* allocate_units(std::size_t count)
{
    return static_cast<wchar_t*>(std::malloc(count * sizeof(wchar_t)));
}

// The name in UTF-16, in memory of the caller's to free; nullptr where none
// could be had.
wchar_t* wide_name(const char* file_name)
{
    wchar_t* wide = allocate_units(utf16_length(file_name) + 1);
    if (wide != nullptr) {
        utf16_from_utf8(file_name, wide);
    }
    return wide;
}

// The full path Windows makes of `name` (current folder, per-drive folders,
// "." and "..", /, trailing dots and blanks, device names), in memory of the
// caller's to free; nullptr where it cannot make one, or no memory is left.
wchar_t* full_path(const wchar_t* name)
{
    // The length asked for counts the NUL, the one written does not.
    const DWORD length = GetFullPathNameW(name, 0, nullptr, nullptr);
    wchar_t* full = length > 0 ? allocate_units(length) : nullptr;
    if (full != nullptr) {
        const DWORD written = GetFullPathNameW(name, length, full, nullptr);
        if (written == 0 || written >= length) {
            std::free(full);
            return nullptr;
        }
    }
    return full;
}

// Opens `name` as Windows resolves it, a long full path by its long form.
std::FILE* open_wide(const wchar_t* name)
{
    wchar_t* full = is_verbatim(name) ? nullptr : full_path(name);
    if (full == nullptr || std::wcslen(full) < kShortPathLimit) {
        // Taken as given: Windows makes the same full path of it itself, or
        // reports why it cannot.
        std::free(full);
        return _wfopen(name, L"rb");
    }
    wchar_t* path = allocate_units(long_path_form_capacity(full));
    std::FILE* stream = nullptr;
    if (path != nullptr) {
        long_path_form(full, path);
        stream = _wfopen(path, L"rb");
    }
    std::free(path);
    std::free(full);
    return stream;
}

} // namespace

std::FILE* open_for_reading(const char* file_name)
{
    // Memory that cannot be had for the name makes it one that cannot be opened.
    wchar_t* name = wide_name(file_name);
    std::FILE* stream = name != nullptr ? open_wide(name) : nullptr;
    std::free(name);
    return stream;
}

void put_file_name(const char* file_name)
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD console_mode = 0;
    if (GetConsoleMode(output, &console_mode) != 0) {
        wchar_t* name = wide_name(file_name);
        if (name != nullptr) {
            // What the runtime holds must come out first.
            (void)std::fflush(stdout);
            DWORD written = 0;
            const BOOL shown = WriteConsoleW(output, name, static_cast<DWORD>(std::wcslen(name)), &written, nullptr);
            std::free(name);
            if (shown != 0) {
                return;
            }
        }
    }
    // Redirected to a file or a pipe: the bytes of UTF-8.
    const std::size_t length = std::strlen(file_name);
    char* shown = static_cast<char*>(std::malloc(length + 1));
    if (shown == nullptr) {
        (void)std::fputs(file_name, stdout);
        return;
    }
    std::memcpy(shown, file_name, length + 1);
    mark_unpaired_surrogates(shown);
    (void)std::fputs(shown, stdout);
    std::free(shown);
}
