// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "windows_names.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::string utf8(const std::wstring& wide)
{
    std::string text(utf8_length(wide.c_str()), '\0');
    utf8_from_utf16(wide.c_str(), &text[0]);
    return text;
}

std::wstring utf16(const std::string& text)
{
    std::wstring wide(utf16_length(text.c_str()), L'\0');
    utf16_from_utf8(text.c_str(), &wide[0]);
    return wide;
}

// UTF-16 code units, as Windows holds a name, and the UTF-8 the program
// carries; every one converts back to the units it came from.
TEST(WindowsNames, ConvertBothWaysExactly)
{
    struct Case {
        std::wstring wide;
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {L"abc.bin", "abc.bin", "abc.bin"},
        {L"caf\x00E9", "caf\xC3\xA9", "caf\xC3\xA9"},
        {L"\x0414\x0430\x043D", "\xD0\x94\xD0\xB0\xD0\xBD", "\xD0\x94\xD0\xB0\xD0\xBD"},   // Cyrillic
        {L"\x30C7\x30FC\x30BF", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF"},
        {L"\xD83D\xDE00.bin", "\xF0\x9F\x98\x80.bin", "\xF0\x9F\x98\x80.bin"}, // a surrogate pair
        {L"x\xD800.bin", "x\xED\xA0\x80.bin", "x\xEF\xBF\xBD.bin"},         // unpaired, high
        {L"\xDFFF\xD83D", "\xED\xBF\xBF\xED\xA0\xBD", "\xEF\xBF\xBD\xEF\xBF\xBD"}, // unpaired, low then high
        {L"\xFFFF", "\xEF\xBF\xBF", "\xEF\xBF\xBF"},
    };
    for (const Case& test_case : cases) {
        EXPECT_EQ(utf8(test_case.wide), test_case.text);
        EXPECT_EQ(utf16(test_case.text), test_case.wide) << test_case.text;
        std::string shown = test_case.text;
        mark_unpaired_surrogates(&shown[0]);
        EXPECT_EQ(shown, test_case.shown);
    }
    // Bytes that begin no character: overlong, past U+10FFFF, cut short.
    EXPECT_EQ(utf16("\xC0\xAF|\xF4\x90\x80\x80|\xE3\x83|\xFF"), L"\xFFFD\xFFFD|\xFFFD\xFFFD\xFFFD\xFFFD|\xFFFD\xFFFD|\xFFFD");
}

// Full paths as GetFullPathNameW gives them, and the form each opens by.
TEST(WindowsNames, LongPathFormIsTheSystemsVerbatimForm)
{
    const std::wstring tail = L"\\" + std::wstring(300, L'd') + L"\\a.bin";
    const std::wstring nt = L"\\\?\?\\"; // \??\, its ? escaped so that no trigraph is read
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:" + tail, L"\\\\?\\C:" + tail},
        {L"\\\\server\\share" + tail, L"\\\\?\\UNC\\server\\share" + tail},
        {L"\\\\.\\C:" + tail, L"\\\\?\\C:" + tail},
        {L"\\\\?\\C:" + tail, L"\\\\?\\C:" + tail},
        {nt + L"C:" + tail, nt + L"C:" + tail},
    };
    for (const auto& [full, opened] : cases) {
        std::vector<wchar_t> path(long_path_form_capacity(full.c_str()));
        long_path_form(full.c_str(), path.data());
        EXPECT_EQ(std::wstring(path.data()), opened);
    }
    EXPECT_TRUE(is_verbatim(L"\\\\?\\C:\\a.") && is_verbatim((nt + L"C:\\a.").c_str()));
    EXPECT_FALSE(is_verbatim(L"\\\\.\\C:\\a") || is_verbatim(L"//?/C:/a") || is_verbatim(L"C:\\a"));
}

} // namespace
