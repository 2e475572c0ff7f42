// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Any text, held against a model that gathers the number's digits first and
// converts only the last eight with the C library.
#include "front_end.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::uint32_t model(const std::string& text)
{
    std::size_t at = text.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos) {
        return 0;
    }
    bool negative = false;
    if (text[at] == '+' || text[at] == '-') {
        negative = text[at] == '-';
        ++at;
    }
    if (text.compare(at, 2, "0x") == 0 || text.compare(at, 2, "0X") == 0) {
        at += 2;
    }
    const std::size_t end = text.find_first_not_of("0123456789abcdefABCDEF", at);
    std::string digits = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (digits.size() > 8) {
        digits.erase(0, digits.size() - 8);
    }
    const unsigned long long value = digits.empty() ? 0 : std::strtoull(digits.c_str(), nullptr, 16);
    const unsigned long long modulus = 1ull << 32;
    return static_cast<std::uint32_t>(negative ? (modulus - value) % modulus : value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The text ends at its first 0x00, as a command-line argument would; the
    // copy is exactly that long, so a read past the end is caught.
    const std::size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    const auto text = std::make_unique<char[]>(length + 1);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';
    if (parse_expected(text.get()) != model(std::string(text.get(), length))) {
        std::abort();
    }
    return 0;
}
