// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "front_end.hpp"

#include "byte_sum.hpp"
#include "platform.hpp"
#include "rights_line.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

constexpr const char* kHelpText = "\n"
                                  "\n"
                                  "\n"
                                  "Check sum Read and Compare Utility   V1.00.02, 2022/05/19\n"
                                  ZANDREL_RIGHTS_LINE "\n"
                                  "\n"
                                  "       Usage: Zandrel /r:[4|8] FileName\n"
                                  "              Zandrel /c:[4|8] FileName data \n"
                                  "\n"
                                  "/r:  Read Check sum data.\n"
                                  "/c:4 Compare Check sum data 4 bit.\n"
                                  "/c:8 Compare Check sum data 8 bit.\n"
                                  "\n"
                                  "\n"
                                  "Return Code:\n"
                                  "1   Failure\n"
                                  "0   Success\n";

constexpr const char* kInvalidArgumentsText = "Invalid argument(s)!!! \n"
                                              "Please type 'Zandrel /?' for help.\n";

constexpr const char* kHelpSwitch = "/?";

// Positions in the argument vector; 0 is the program's own name. Nothing
// past the expected value is ever looked at.
constexpr int kSwitchArgument = 1;
constexpr int kFileNameArgument = 2;
constexpr int kExpectedValueArgument = 3;

struct OperationSwitch {
    const char* text;
    Operation operation;
    SumWidth width;
};

// Tried in this order; reads come before compares.
constexpr OperationSwitch kOperationSwitches[] = {
    {"/r:4", Operation::Read, SumWidth::Bits16},
    {"/r:8", Operation::Read, SumWidth::Bits32},
    {"/c:4", Operation::Compare, SumWidth::Bits16},
    {"/c:8", Operation::Compare, SumWidth::Bits32},
};
constexpr std::size_t kOperationSwitchCount = sizeof(kOperationSwitches) / sizeof(kOperationSwitches[0]);

constexpr std::uint32_t kLow16Bits = 0xFFFFu;

char ascii_lower(char character)
{
    return (character >= 'A' && character <= 'Z') ? static_cast<char>(character - 'A' + 'a') : character;
}

// True when the first strlen(switch_text) characters of `argument` equal the
// switch, ASCII letters compared without case and every other byte exactly.
// A shorter argument fails at its terminating NUL, so nothing past it is read.
bool matches_switch(const char* argument, const char* switch_text)
{
    for (std::size_t index = 0; switch_text[index] != '\0'; ++index) {
        if (ascii_lower(argument[index]) != ascii_lower(switch_text[index])) {
            return false;
        }
    }
    return true;
}

const OperationSwitch* find_operation_switch(const char* argument)
{
    // Ends by count, not std::end: <iterator> declares locale types that the
    // musl build of the program cannot compile.
    const OperationSwitch* end = kOperationSwitches + kOperationSwitchCount;
    const OperationSwitch* found =
        std::find_if(kOperationSwitches, end,
                     [argument](const OperationSwitch& candidate) { return matches_switch(argument, candidate.text); });
    return found == end ? nullptr : found;
}

bool is_white_space(char character)
{
    return character == ' ' || (character >= '\t' && character <= '\r');
}

int hex_digit_value(char character)
{
    if (character >= '0' && character <= '9') {
        return character - '0';
    }
    if (character >= 'a' && character <= 'f') {
        return character - 'a' + 10;
    }
    if (character >= 'A' && character <= 'F') {
        return character - 'A' + 10;
    }
    return -1;
}

// A failed write sets the stream's error flag, which run_program checks once
// before the exit code is decided; the results of single writes add nothing.
void put_text(const char* text)
{
    (void)std::fputs(text, stdout);
}

std::uint32_t at_width(std::uint32_t sum, SumWidth width)
{
    return width == SumWidth::Bits16 ? (sum & kLow16Bits) : sum;
}

void print_data_line(std::uint32_t value, SumWidth width)
{
    if (width == SumWidth::Bits16) {
        (void)std::printf("data : %04x \n", static_cast<unsigned int>(value));
    } else {
        (void)std::printf("data : %08x \n", static_cast<unsigned int>(value));
    }
}

struct Measurement {
    bool ok;
    std::uint32_t sum;
};

// Announces the file, sums it, and on failure prints why.
Measurement measure_file(const char* file_name)
{
    put_text("- open file   ");
    put_file_name(file_name);
    put_text("\n");
    const ByteSumResult result = file_byte_sum(file_name);
    switch (result.outcome) {
    case ByteSumOutcome::Ok:
        return {true, result.sum};
    case ByteSumOutcome::OpenFailed:
        put_text("open file fail");
        break;
    case ByteSumOutcome::BufferFailed:
        put_text("buffer fail");
        break;
    case ByteSumOutcome::ReadFailed:
        put_text("read file fail");
        break;
    }
    return {false, 0};
}

} // namespace

SelectedCommand select_command(int argc, const char* const* argv)
{
    const SelectedCommand invalid = {Selection::Invalid, {}};
    if (argc <= kSwitchArgument) {
        return invalid;
    }
    const char* first_argument = argv[kSwitchArgument];

    if (argc == kSwitchArgument + 1) {
        // An operation switch alone has no file to work on.
        return matches_switch(first_argument, kHelpSwitch) ? SelectedCommand{Selection::Help, {}} : invalid;
    }

    const OperationSwitch* found = find_operation_switch(first_argument);
    if (found == nullptr) {
        return invalid;
    }
    const char* file_name = argv[kFileNameArgument];
    if (found->operation == Operation::Read) {
        return {Selection::Run, {Operation::Read, found->width, file_name, nullptr}};
    }
    if (argc <= kExpectedValueArgument) {
        return invalid;
    }
    return {Selection::Run, {Operation::Compare, found->width, file_name, argv[kExpectedValueArgument]}};
}

std::uint32_t parse_expected(const char* text)
{
    const char* cursor = text;
    while (is_white_space(*cursor)) {
        ++cursor;
    }
    bool negative = false;
    if (*cursor == '+' || *cursor == '-') {
        negative = *cursor == '-';
        ++cursor;
    }
    if (cursor[0] == '0' && (cursor[1] == 'x' || cursor[1] == 'X')) {
        cursor += 2;
    }
    std::uint32_t value = 0;
    for (int digit = hex_digit_value(*cursor); digit >= 0; digit = hex_digit_value(*++cursor)) {
        // Shifting inside 32 bits drops all but the last eight digits.
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    // Negation modulo 2^32, written without unary minus on an unsigned.
    return negative ? 0u - value : value;
}

int run_read(const Command& command)
{
    const Measurement measured = measure_file(command.file_name);
    if (!measured.ok) {
        return kExitFailure;
    }
    print_data_line(at_width(measured.sum, command.width), command.width);
    return kExitSuccess;
}

int run_compare(const Command& command)
{
    const Measurement measured = measure_file(command.file_name);
    if (!measured.ok) {
        return kExitFailure;
    }
    const std::uint32_t actual = at_width(measured.sum, command.width);
    const std::uint32_t expected = at_width(parse_expected(command.expected_text), command.width);
    print_data_line(actual, command.width);
    print_data_line(expected, command.width);
    if (actual == expected) {
        put_text("Check sum compare pass!");
        return kExitSuccess;
    }
    put_text("Check sum compare fail!");
    return kExitFailure;
}

int run_program(int argc, const char* const* argv)
{
    const SelectedCommand selected = select_command(argc, argv);
    int exit_code = kExitFailure;
    switch (selected.selection) {
    case Selection::Help:
        put_text(kHelpText);
        break;
    case Selection::Invalid:
        put_text(kInvalidArgumentsText);
        break;
    case Selection::Run:
        exit_code =
            selected.command.operation == Operation::Read ? run_read(selected.command) : run_compare(selected.command);
        break;
    }
    // Output that never reached its destination (a full disk, a closed
    // stream) must not pass for success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        return kExitFailure;
    }
    return exit_code;
}
