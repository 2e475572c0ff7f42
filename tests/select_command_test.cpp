// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "front_end.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SelectionCase {
    std::vector<const char*> arguments; // after the program name
    Selection selection;
    Operation operation;
    SumWidth width;
};

constexpr Operation R = Operation::Read;
constexpr Operation C = Operation::Compare;
constexpr SumWidth W16 = SumWidth::Bits16;
constexpr SumWidth W32 = SumWidth::Bits32;

// Help and Invalid rows leave operation and width unchecked.
const SelectionCase kCases[] = {
    {{}, Selection::Invalid, R, W16},
    // One argument: help, or nothing.
    {{"/?"}, Selection::Help, R, W16},
    {{"/?x"}, Selection::Help, R, W16},
    {{"/"}, Selection::Invalid, R, W16},
    {{""}, Selection::Invalid, R, W16},
    {{"?"}, Selection::Invalid, R, W16},
    {{"/r:4"}, Selection::Invalid, R, W16},
    {{"/r:8"}, Selection::Invalid, R, W16},
    {{"/c:4"}, Selection::Invalid, R, W16},
    {{"/c:8"}, Selection::Invalid, R, W16},
    // Two arguments: reads only.
    {{"/r:4", "f"}, Selection::Run, R, W16},
    {{"/r:8", "f"}, Selection::Run, R, W32},
    {{"/R:8", "f"}, Selection::Run, R, W32},
    {{"/r:8zz", "f"}, Selection::Run, R, W32},
    {{"/R:4xyz", "f"}, Selection::Run, R, W16},
    {{"/c:4", "f"}, Selection::Invalid, R, W16},
    {{"/c:8", "f"}, Selection::Invalid, R, W16},
    {{"/?", "f"}, Selection::Invalid, R, W16},
    {{"/r:", "f"}, Selection::Invalid, R, W16},
    {{"/r", "f"}, Selection::Invalid, R, W16},
    {{"-r:4", "f"}, Selection::Invalid, R, W16},
    {{"r:4", "f"}, Selection::Invalid, R, W16},
    {{"/r:5", "f"}, Selection::Invalid, R, W16},
    {{"/r;4", "f"}, Selection::Invalid, R, W16},
    {{"/x:4", "f"}, Selection::Invalid, R, W16},
    {{"\\r:4", "f"}, Selection::Invalid, R, W16},
    // Only A to Z fold: a byte above 0x7F never equals a letter.
    {{"/\xd2:4", "f"}, Selection::Invalid, R, W16},
    {{"/r:\xb4", "f"}, Selection::Invalid, R, W16},
    // Three or more: reads and compares, the rest ignored.
    {{"/r:4", "f", "x"}, Selection::Run, R, W16},
    {{"/r:8", "f", "x", "y"}, Selection::Run, R, W32},
    {{"/c:4", "f", "abcd"}, Selection::Run, C, W16},
    {{"/c:8", "f", "126"}, Selection::Run, C, W32},
    {{"/C:8", "f", "126"}, Selection::Run, C, W32},
    {{"/c:4!", "f", "1", "extra"}, Selection::Run, C, W16},
    {{"/?", "f", "x"}, Selection::Invalid, R, W16},
    {{"/c:", "f", "x"}, Selection::Invalid, R, W16},
    {{"/c:2", "f", "x"}, Selection::Invalid, R, W16},
    {{"", "f", "x"}, Selection::Invalid, R, W16},
};

std::string describe(const SelectionCase& test_case)
{
    std::string text;
    for (const char* argument : test_case.arguments) {
        text += " '" + std::string(argument) + "'";
    }
    return text.empty() ? std::string("(no arguments)") : text;
}

TEST(SelectCommand, FollowsTheSelectionTable)
{
    for (const SelectionCase& test_case : kCases) {
        std::vector<const char*> argv = {"Zandrel"};
        argv.insert(argv.end(), test_case.arguments.begin(), test_case.arguments.end());
        const SelectedCommand selected = select_command(static_cast<int>(argv.size()), argv.data());

        SCOPED_TRACE(describe(test_case));
        ASSERT_EQ(selected.selection, test_case.selection);
        if (test_case.selection != Selection::Run) {
            continue;
        }
        EXPECT_EQ(selected.command.operation, test_case.operation);
        EXPECT_EQ(selected.command.width, test_case.width);
        // The names are handed on as the very arguments, unchanged.
        EXPECT_EQ(selected.command.file_name, argv[2]);
        EXPECT_EQ(selected.command.expected_text, test_case.operation == C ? argv[3] : nullptr);
    }
}

TEST(SelectCommand, NeverLooksPastTheArgumentCount)
{
    // Entries past argc are poison: a read of one would not be a string.
    const char* argv[] = {"Zandrel", "/c:8", "f", nullptr};
    EXPECT_EQ(select_command(3, argv).selection, Selection::Invalid);
    EXPECT_EQ(select_command(2, argv).selection, Selection::Invalid);
    EXPECT_EQ(select_command(1, argv).selection, Selection::Invalid);
    EXPECT_EQ(select_command(0, argv).selection, Selection::Invalid);
}

} // namespace
