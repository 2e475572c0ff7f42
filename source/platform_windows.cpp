// Windows holds names as UTF-16: the program opens them through the wide
// functions, long ones by their \\?\ form, and shows them at a console as
// UTF-16 too, whatever its code page. Redirected, a name is written as UTF-8.
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

// The current folder, in memory of the caller's to free; nullptr where none
// could be had.
wchar_t* current_folder()
{
    // The length asked for counts the NUL; the folder may change between the
    // two calls, so the second must fit.
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    wchar_t* folder = length > 0 ? allocate_units(length) : nullptr;
    if (folder != nullptr) {
        const DWORD written = GetCurrentDirectoryW(length, folder);
        if (written == 0 || written >= length) {
            std::free(folder);
            return nullptr;
        }
    }
    return folder;
}

} // namespace

std::FILE* open_for_reading(const char* file_name)
{
    // Memory that cannot be had for the name makes it one that cannot be opened.
    wchar_t* name = wide_name(file_name);
    wchar_t* folder = current_folder();
    wchar_t* path = (name != nullptr && folder != nullptr) ? allocate_units(path_to_open_capacity(name, folder)) : nullptr;
    std::FILE* stream = nullptr;
    if (path != nullptr) {
        path_to_open(name, folder, path);
        stream = _wfopen(path, L"rb");
    }
    std::free(path);
    std::free(folder);
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
