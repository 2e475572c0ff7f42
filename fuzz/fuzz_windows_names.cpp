// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Any sequence of UTF-16 code units, as a Windows name may hold them (an
// unpaired surrogate included): converted to UTF-8 and back, it must give the
// very same units, and no conversion may write past the length it reported.
// Each buffer is a heap block of exactly that length, so a write past it is
// an AddressSanitizer report.
#include "windows_names.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Two bytes a unit, little-endian; the name ends at its first zero unit.
    std::size_t units = 0;
    while (units < size / 2 && (data[2 * units] | data[2 * units + 1]) != 0) {
        ++units;
    }
    const auto wide = std::make_unique<wchar_t[]>(units + 1);
    for (std::size_t index = 0; index < units; ++index) {
        wide[index] = static_cast<wchar_t>(data[2 * index] | (data[2 * index + 1] << 8));
    }
    wide[units] = L'\0';

    const std::size_t bytes = utf8_length(wide.get());
    const auto text = std::make_unique<char[]>(bytes + 1);
    if (utf8_from_utf16(wide.get(), text.get()) != bytes || std::strlen(text.get()) != bytes) {
        std::abort();
    }
    const std::size_t back_units = utf16_length(text.get());
    const auto back = std::make_unique<wchar_t[]>(back_units + 1);
    utf16_from_utf8(text.get(), back.get());
    if (back_units != units || std::memcmp(back.get(), wide.get(), (units + 1) * sizeof(wchar_t)) != 0) {
        std::abort();
    }
    // What is shown in place of an unpaired surrogate takes as many bytes.
    mark_unpaired_surrogates(text.get());
    if (std::strlen(text.get()) != bytes) {
        std::abort();
    }
    return 0;
}
