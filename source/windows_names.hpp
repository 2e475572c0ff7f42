// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// File names on Windows: UTF-16, as the system holds them, and the UTF-8
// text that the front end and the engine carry; and the form that opens a long
// path. Plain code on code units, so that it is the same and is tested on
// every system. The system itself makes a name's full path.
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

// A full path of this many code units or more opens only in its long form
// where the system's long-path setting is off (MAX_PATH, which counts the NUL).
constexpr std::size_t kShortPathLimit = 260;

// True for a name in the \\?\ or \??\ form, which the system takes as it
// is, without making it a full path first.
bool is_verbatim(const wchar_t* name);

// Code units that long_path_form may write for `full_path`, the NUL included.
std::size_t long_path_form_capacity(const wchar_t* full_path);
// The form in which a full path (as GetFullPathNameW gives it) opens on every
// Windows 10 and 11, whatever its length: X:\... becomes \\?\X:\..., a share
// \\server\share\... becomes \\?\UNC\server\share\..., a device path \\.\...
// becomes \\?\...; one in \\?\ or \??\ form, or of any other kind, stays.
void long_path_form(const wchar_t* full_path, wchar_t* path);
