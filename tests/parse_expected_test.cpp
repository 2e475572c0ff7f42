// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "front_end.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct ParseCase {
    const char* text;
    std::uint32_t value;
};

const ParseCase kCases[] = {
    // Digits of either case, with or without a prefix.
    {"126", 0x126u},
    {"abcd", 0xabcdu},
    {"ABCD", 0xabcdu},
    {"0xabcd", 0xabcdu},
    {"0XABCD", 0xabcdu},
    {"DeadBeef", 0xdeadbeefu},
    {"FFFF", 0xffffu},
    {"0XFFFFFFFF", 0xffffffffu},
    // Leading zeros, as a read prints them.
    {"0126", 0x126u},
    {"00000126", 0x126u},
    {"ffffffff", 0xffffffffu},
    // Only the last eight digits survive.
    {"123456789", 0x23456789u},
    {"1ffffffff", 0xffffffffu},
    {"00000000000000000000000001", 1u},
    {"0x123456789abcdef0", 0x9abcdef0u},
    // Leading white space, then one sign.
    {"  \t\n\v\f\r7f", 0x7fu},
    {"+7f", 0x7fu},
    {"-1", 0xffffffffu},
    {"-0x10", 0xfffffff0u},
    {" -ffffffff", 1u},
    {"-0", 0u},
    {"+-1", 0u},
    {"--1", 0u},
    {"- 1", 0u},
    // The first non-digit ends the number.
    {"12zz", 0x12u},
    {"12 34", 0x12u},
    {"0x", 0u},
    {"0xg1", 0u},
    {"0x0x1", 0u},
    {"x1", 0u},
    {"1x5", 1u},
    // No digit at all: zero.
    {"", 0u},
    {"zz", 0u},
    {"   ", 0u},
    {"\xff"
     "12",
     0u},
};

TEST(ParseExpected, ConvertsLikeHexScanModulo2To32)
{
    for (const ParseCase& test_case : kCases) {
        SCOPED_TRACE(test_case.text);
        EXPECT_EQ(parse_expected(test_case.text), test_case.value);
    }
}

} // namespace
