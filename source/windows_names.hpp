// File names on Windows: UTF-16, as the system holds them, and the UTF-8
// text that the front end and the engine carry. Plain code on code units, so
// that it is the same and is tested on every system.
//
// An unpaired surrogate, which NTFS allows in a name, is carried as the
// three bytes that UTF-8 would give its value (as WTF-8 does), so that the
// name converts back to the very code units it came from.
#pragma once

#include <cstddef>

// Bytes of UTF-8 for the NUL-terminated UTF-16 `wide`, the NUL not counted.
std::size_t utf8_length(const wchar_t* wide);
// Writes them, then a NUL, to `text`, which holds utf8_length(wide) + 1;
// returns their count.
std::size_t utf8_from_utf16(const wchar_t* wide, char* text);

// Code units of UTF-16 for the NUL-terminated UTF-8 `text`, the NUL not
// counted. Each byte that begins no character stands for U+FFFD.
std::size_t utf16_length(const char* text);
// Writes them, then a NUL, to `wide`, which holds utf16_length(text) + 1.
void utf16_from_utf8(const char* text, wchar_t* wide);

// Puts U+FFFD in the place of each unpaired surrogate, in place (both take
// three bytes): UTF-8 proper has no form for one, so this is what is shown.
void mark_unpaired_surrogates(char* text);

// Paths of this many code units or more open only in their \\?\ form where
// the system's long-path setting is off (MAX_PATH, which counts the NUL).
constexpr std::size_t kShortPathLimit = 260;

// Code units that path_to_open may write for these two, the NUL included.
std::size_t path_to_open_capacity(const wchar_t* name, const wchar_t* current_folder);
// The path to open the file `name` by: `name` itself where its full path is
// short, else the full path in its \\?\ form (\\?\UNC\ for a share), which
// opens on every Windows 10 and 11 without the long-path setting. The full
// path is made as Windows makes it: a relative name taken from the current
// folder (an absolute one), / read as \, "." and ".." resolved. A name
// already in \\?\ form is left as it is.
void path_to_open(const wchar_t* name, const wchar_t* current_folder, wchar_t* path);
