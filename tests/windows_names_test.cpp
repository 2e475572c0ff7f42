#include "windows_names.hpp"

#include <gtest/gtest.h>

#include <string>
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

TEST(WindowsNames, LongPathsOpenByTheirVerbatimForm)
{
    const std::wstring d(255, L'd'); // the longest name NTFS allows: any path through it is long
    struct Case {
        const char* label;
        std::wstring name, folder, opened;
    };
    const Case cases[] = {
        {"short drive path", L"C:\\dir\\a.bin", L"D:\\", L"C:\\dir\\a.bin"},
        {"short relative name", L"..\\a.bin", L"C:\\work", L"..\\a.bin"},
        {"drive path", L"C:\\" + d + L"\\a.bin", L"D:\\", L"\\\\?\\C:\\" + d + L"\\a.bin"},
        {"share", L"\\\\server\\share\\" + d + L"\\a.bin", L"C:\\", L"\\\\?\\UNC\\server\\share\\" + d + L"\\a.bin"},
        {"relative name", L"a.bin", L"C:\\" + d, L"\\\\?\\C:\\" + d + L"\\a.bin"},
        {"relative name in a share", L"a.bin", L"\\\\srv\\sh\\" + d, L"\\\\?\\UNC\\srv\\sh\\" + d + L"\\a.bin"},
        {"rooted name", L"\\" + d + L"\\a.bin", L"D:\\work", L"\\\\?\\D:\\" + d + L"\\a.bin"},
        {"same drive, relative", L"c:" + d, L"C:\\w", L"\\\\?\\C:\\w\\" + d},
        {"other drive, relative", L"E:" + d + L"\\a", L"C:\\w", L"\\\\?\\E:\\" + d + L"\\a"},
        {". and ..", L"..\\x\\.\\" + d + L"\\..\\" + d + L"\\a.bin", L"C:\\a\\b",
         L"\\\\?\\C:\\a\\x\\" + d + L"\\a.bin"},
        {".. past the root", L"..\\..\\..\\" + d + L"\\a", L"C:\\a", L"\\\\?\\C:\\" + d + L"\\a"},
        {"forward slashes", L"C:/" + d + L"//a.bin", L"D:\\", L"\\\\?\\C:\\" + d + L"\\a.bin"},
        {"forward slashes to a share", L"//srv/sh/" + d, L"C:\\", L"\\\\?\\UNC\\srv\\sh\\" + d},
        {"already verbatim", L"\\\\?\\C:\\" + d + L"\\.\\a.bin", L"D:\\", L"\\\\?\\C:\\" + d + L"\\.\\a.bin"},
    };
    for (const Case& test_case : cases) {
        std::vector<wchar_t> path(path_to_open_capacity(test_case.name.c_str(), test_case.folder.c_str()));
        path_to_open(test_case.name.c_str(), test_case.folder.c_str(), path.data());
        EXPECT_EQ(std::wstring(path.data()), test_case.opened) << test_case.label;
    }
    // The limit: a full path of 259 units opens as it is, of 260 by its verbatim form.
    const std::wstring folder = L"C:\\" + std::wstring(kShortPathLimit - 9, L'f'); // 254 units
    std::vector<wchar_t> path(path_to_open_capacity(L"abcd", folder.c_str()));
    path_to_open(L"abcd", folder.c_str(), path.data());
    EXPECT_EQ(std::wstring(path.data()), L"abcd");
    path_to_open(L"abcde", folder.c_str(), path.data());
    EXPECT_EQ(std::wstring(path.data()), L"\\\\?\\" + folder + L"\\abcde");
}

} // namespace
