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

bool is_separator(wchar_t unit)
{
    return unit == L'\\' || unit == L'/';
}

bool starts_with_drive(const wchar_t* path)
{
    const wchar_t letter = static_cast<wchar_t>(path[0] | 0x20);
    return letter >= L'a' && letter <= L'z' && path[1] == L':';
}

// The prefixes, and room for the longer in front of the full path.
constexpr const wchar_t* kVerbatimPrefix = L"\\\\?\\";
constexpr const wchar_t* kVerbatimSharePrefix = L"\\\\?\\UNC"; // then the share's path, one backslash fewer
constexpr std::size_t kPrefixRoom = 8;

bool is_verbatim(const wchar_t* path)
{
    return std::wcsncmp(path, kVerbatimPrefix, std::wcslen(kVerbatimPrefix)) == 0;
}

// Code units of the root that begins an absolute path: "X:", or
// "\\server\share" for a share; 0 for a relative path.
std::size_t root_length(const wchar_t* path)
{
    if (starts_with_drive(path)) {
        return 2;
    }
    if (!is_separator(path[0]) || !is_separator(path[1])) {
        return 0;
    }
    std::size_t length = 2;
    for (int part = 0; part < 2 && path[length] != L'\0'; ++part) {
        if (part == 1) {
            ++length; // the separator between server and share
        }
        while (path[length] != L'\0' && !is_separator(path[length])) {
            ++length;
        }
    }
    return length;
}

// A full path under construction: the root, then each component after a \.
struct FullPath {
    wchar_t* units;
    std::size_t length;
    std::size_t root_end;
};

void set_root(FullPath& full, const wchar_t* path, std::size_t length)
{
    for (std::size_t index = 0; index < length; ++index) {
        full.units[index] = is_separator(path[index]) ? L'\\' : path[index];
    }
    full.length = full.root_end = length;
}

// Appends the components of `path`: "." is dropped, ".." takes the last
// one away, never the root.
void append_components(FullPath& full, const wchar_t* path)
{
    while (*path != L'\0') {
        const wchar_t* start = path;
        while (*path != L'\0' && !is_separator(*path)) {
            ++path;
        }
        const auto length = static_cast<std::size_t>(path - start);
        if (*path != L'\0') {
            ++path;
        }
        if (length == 0 || (length == 1 && start[0] == L'.')) {
            continue;
        }
        if (length == 2 && start[0] == L'.' && start[1] == L'.') {
            while (full.length > full.root_end && full.units[full.length - 1] != L'\\') {
                --full.length;
            }
            if (full.length > full.root_end) {
                --full.length;
            }
            continue;
        }
        full.units[full.length++] = L'\\';
        std::memcpy(full.units + full.length, start, length * sizeof(wchar_t));
        full.length += length;
    }
}

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

std::size_t path_to_open_capacity(const wchar_t* name, const wchar_t* current_folder)
{
    // The prefix, the folder, a \, the name, a \ after a bare root, the NUL.
    return kPrefixRoom + std::wcslen(current_folder) + 1 + std::wcslen(name) + 2;
}

void path_to_open(const wchar_t* name, const wchar_t* current_folder, wchar_t* path)
{
    if (is_verbatim(name)) {
        std::wcscpy(path, name);
        return;
    }
    FullPath full{path + kPrefixRoom, 0, 0};
    const std::size_t name_root = root_length(name);
    const bool drive_relative = name_root == 2 && !is_separator(name[2]); // "X:name"
    const bool same_drive = drive_relative && starts_with_drive(current_folder) &&
                            (name[0] | 0x20) == (current_folder[0] | 0x20);
    if (name_root > 0 && !same_drive) {
        set_root(full, name, name_root);
        append_components(full, name + name_root);
    } else {
        // From the current folder: all of it for a relative name, its root
        // alone for one that starts with a \.
        set_root(full, current_folder, root_length(current_folder));
        if (same_drive || !is_separator(name[0])) {
            append_components(full, current_folder + full.root_end);
        }
        append_components(full, name + (same_drive ? 2 : 0));
    }
    if (full.length == full.root_end) {
        full.units[full.length++] = L'\\';
    }
    full.units[full.length] = L'\0';

    if (full.length < kShortPathLimit) {
        std::wcscpy(path, name); // Windows opens it as it is, and resolves it as usual
        return;
    }
    const bool share = full.units[0] == L'\\';
    const wchar_t* prefix = share ? kVerbatimSharePrefix : kVerbatimPrefix;
    const std::size_t prefix_length = std::wcslen(prefix);
    const std::size_t skipped = share ? 1 : 0; // \\server\share becomes \\?\UNC\server\share
    std::memmove(path + prefix_length, full.units + skipped, (full.length - skipped + 1) * sizeof(wchar_t));
    std::memcpy(path, prefix, prefix_length * sizeof(wchar_t));
}
