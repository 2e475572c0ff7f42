// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "windows_names.hpp"

#include <cstring>
#include <cwchar>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kFirstLowSurrogate = 0xDC00;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kFirstSupplementary = 0x10000;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr unsigned kSurrogateBits = 10; // of the code point, in each of a pair

// UTF-8: a lead byte of as many high one bits as the character has bytes
// (none for one byte), then continuation bytes of 6 bits each behind 10.
constexpr char32_t kLastOfOneByte = 0x7F;
constexpr char32_t kLastOfTwoBytes = 0x7FF;
constexpr std::size_t kLongestSequence = 4;
constexpr unsigned kByteBits = 0xFF;
constexpr unsigned kContinuationMark = 0x80;
constexpr unsigned kContinuationMarkBits = 0xC0;
constexpr unsigned kContinuationShift = 6;
constexpr unsigned kContinuationBits = 0x3F;
// An unpaired surrogate's three bytes (ED A0 80 to ED BF BF), and those of U+FFFD.
constexpr unsigned char kSurrogateLead = 0xED;
constexpr unsigned char kFirstSurrogateSecond = 0xA0;
constexpr unsigned char kLastContinuation = 0xBF;
constexpr unsigned char kReplacementBytes[] = {0xEF, 0xBF, 0xBD};

bool is_high_surrogate(char32_t unit)
{
    return unit >= kFirstSurrogate && unit < kFirstLowSurrogate;
}

bool is_low_surrogate(char32_t unit)
{
    return unit >= kFirstLowSurrogate && unit <= kLastSurrogate;
}

// The code point that starts at `wide`, and how many code units it takes.
char32_t next_code_point(const wchar_t* wide, std::size_t& units)
{
    const auto unit = static_cast<char32_t>(wide[0]) & 0xFFFF;
    const auto next = static_cast<char32_t>(wide[1]) & 0xFFFF;
    if (is_high_surrogate(unit) && is_low_surrogate(next)) {
        units = 2;
        return kFirstSupplementary + ((unit - kFirstSurrogate) << kSurrogateBits) + (next - kFirstLowSurrogate);
    }
    units = 1;
    return unit; // an unpaired surrogate stands for itself
}

std::size_t utf8_bytes(char32_t code_point)
{
    if (code_point <= kLastOfOneByte) {
        return 1;
    }
    if (code_point <= kLastOfTwoBytes) {
        return 2;
    }
    return code_point < kFirstSupplementary ? 3 : kLongestSequence;
}

// The code point that starts at `text`, and how many bytes it takes: one
// byte that begins no character stands for U+FFFD. A surrogate's three
// bytes are taken as they come (see the header).
char32_t next_from_utf8(const unsigned char* text, std::size_t& bytes)
{
    bytes = 1;
    const unsigned char lead = text[0];
    std::size_t length = 0;
    while (length <= kLongestSequence && (lead & (kContinuationMark >> length)) != 0) {
        ++length;
    }
    if (length == 0) {
        return lead;
    }
    if (length == 1 || length > kLongestSequence) {
        return kReplacement;
    }
    char32_t code_point = lead & (kContinuationBits >> (length - 1));
    for (std::size_t index = 1; index < length; ++index) {
        if ((text[index] & kContinuationMarkBits) != kContinuationMark) { // a NUL ends the text here too
            return kReplacement;
        }
        code_point = (code_point << kContinuationShift) | (text[index] & kContinuationBits);
    }
    // The shortest form only, and nothing past Unicode's last code point.
    if (utf8_bytes(code_point) != length || code_point > kLastCodePoint) {
        return kReplacement;
    }
    bytes = length;
    return code_point;
}

bool starts_with(const wchar_t* text, const wchar_t* prefix)
{
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

bool starts_with_drive_root(const wchar_t* path)
{
    const wchar_t letter = static_cast<wchar_t>(path[0] | 0x20);
    return letter >= L'a' && letter <= L'z' && path[1] == L':' && path[2] == L'\\';
}

constexpr const wchar_t* kVerbatimPrefix = L"\\\\?\\";
constexpr const wchar_t* kNtPrefix = L"\\\?\?\\"; // \??\ (escaped: ??\ would read as a trigraph)
constexpr const wchar_t* kDevicePrefix = L"\\\\.\\";
constexpr const wchar_t* kSharePrefix = L"\\\\";
constexpr const wchar_t* kVerbatimSharePrefix = L"\\\\?\\UNC"; // then the share's path, one backslash fewer

} // namespace

std::size_t utf8_length(const wchar_t* wide)
{
    std::size_t length = 0;
    for (std::size_t units = 0; *wide != L'\0'; wide += units) {
        length += utf8_bytes(next_code_point(wide, units));
    }
    return length;
}

std::size_t utf8_from_utf16(const wchar_t* wide, char* text)
{
    auto* out = reinterpret_cast<unsigned char*>(text);
    for (std::size_t units = 0; *wide != L'\0'; wide += units) {
        const char32_t code_point = next_code_point(wide, units);
        const std::size_t bytes = utf8_bytes(code_point);
        if (bytes == 1) {
            *out++ = static_cast<unsigned char>(code_point);
            continue;
        }
        // The lead byte: as many high bits as bytes, then the top bits.
        *out++ = static_cast<unsigned char>((~(kByteBits >> bytes) & kByteBits) |
                                            (code_point >> (kContinuationShift * (bytes - 1))));
        for (std::size_t index = bytes - 1; index > 0; --index) {
            *out++ = static_cast<unsigned char>(
                kContinuationMark | ((code_point >> (kContinuationShift * (index - 1))) & kContinuationBits));
        }
    }
    *out = '\0';
    return static_cast<std::size_t>(out - reinterpret_cast<unsigned char*>(text));
}

std::size_t utf16_length(const char* text)
{
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    std::size_t length = 0;
    for (std::size_t bytes = 0; *in != '\0'; in += bytes) {
        length += next_from_utf8(in, bytes) >= kFirstSupplementary ? 2u : 1u;
    }
    return length;
}

void utf16_from_utf8(const char* text, wchar_t* wide)
{
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    for (std::size_t bytes = 0; *in != '\0'; in += bytes) {
        const char32_t code_point = next_from_utf8(in, bytes);
        if (code_point >= kFirstSupplementary) {
            const char32_t above_the_plane = code_point - kFirstSupplementary;
            *wide++ = static_cast<wchar_t>(kFirstSurrogate + (above_the_plane >> kSurrogateBits));
            *wide++ = static_cast<wchar_t>(kFirstLowSurrogate + (above_the_plane & ((1u << kSurrogateBits) - 1)));
        } else {
            *wide++ = static_cast<wchar_t>(code_point);
        }
    }
    *wide = L'\0';
}

void mark_unpaired_surrogates(char* text)
{
    auto* bytes = reinterpret_cast<unsigned char*>(text);
    for (; *bytes != '\0'; ++bytes) {
        if (bytes[0] == kSurrogateLead && bytes[1] >= kFirstSurrogateSecond && bytes[1] <= kLastContinuation &&
            bytes[2] != '\0') {
            std::memcpy(bytes, kReplacementBytes, sizeof kReplacementBytes);
            bytes += sizeof kReplacementBytes - 1;
        }
    }
}

bool is_verbatim(const wchar_t* name)
{
    return starts_with(name, kVerbatimPrefix) || starts_with(name, kNtPrefix);
}

std::size_t long_path_form_capacity(const wchar_t* full_path)
{
    return std::wcslen(kVerbatimSharePrefix) + std::wcslen(full_path) + 1;
}

void long_path_form(const wchar_t* full_path, wchar_t* path)
{
    // What goes in front, in the place of how many units of the full path.
    const wchar_t* prefix = L"";
    std::size_t replaced = 0;
    if (is_verbatim(full_path)) {
        // The system's own long form already.
    } else if (starts_with(full_path, kDevicePrefix)) {
        prefix = kVerbatimPrefix;
        replaced = std::wcslen(kDevicePrefix);
    } else if (starts_with(full_path, kSharePrefix)) {
        prefix = kVerbatimSharePrefix;
        replaced = 1;
    } else if (starts_with_drive_root(full_path)) {
        prefix = kVerbatimPrefix;
    }
    std::wcscpy(path, prefix);
    std::wcscat(path, full_path + replaced);
}
