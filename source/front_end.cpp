#include "front_end.hpp"

#include "byte_sum.hpp"

#include <cstddef>
#include <cstdio>

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

constexpr const char* kHelpText = "\n"
                                  "\n"
                                  "\n"
                                  "Check sum Read and Compare Utility   V1.00.02, 2022/05/19\n"
                                  "Copyright (C) 2022. All rights reserved.\n"
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
    for (const OperationSwitch& candidate : kOperationSwitches) {
        if (matches_switch(argument, candidate.text)) {
            return &candidate;
        }
    }
    return nullptr;
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

std::uint32_t at_width(std::uint32_t sum, SumWidth width)
{
    return width == SumWidth::Bits16 ? (sum & kLow16Bits) : sum;
}

void print_data_line(std::uint32_t value, SumWidth width)
{
    if (width == SumWidth::Bits16) {
        std::printf("data : %04x \n", static_cast<unsigned int>(value));
    } else {
        std::printf("data : %08x \n", static_cast<unsigned int>(value));
    }
}

struct Measurement {
    bool ok;
    std::uint32_t sum;
};

// Announces the file, sums it, and on failure prints why.
Measurement measure_file(const char* file_name)
{
    std::printf("- open file   %s\n", file_name);
    const ByteSumResult result = file_byte_sum(file_name);
    switch (result.outcome) {
    case ByteSumOutcome::Ok:
        return {true, result.sum};
    case ByteSumOutcome::OpenFailed:
        std::fputs("open file fail", stdout);
        break;
    case ByteSumOutcome::BufferFailed:
        std::fputs("buffer fail", stdout);
        break;
    case ByteSumOutcome::ReadFailed:
        std::fputs("read file fail", stdout);
        break;
    }
    return {false, 0};
}

} // namespace

SelectedCommand select_command(int argc, const char* const* argv)
{
    const SelectedCommand invalid = {Selection::Invalid, {}};
    const int argument_count = argc - 1;
    if (argument_count < 1) {
        return invalid;
    }
    const char* switch_argument = argv[1];

    if (argument_count == 1) {
        // An operation switch alone has no file to work on.
        return matches_switch(switch_argument, kHelpSwitch) ? SelectedCommand{Selection::Help, {}} : invalid;
    }

    const OperationSwitch* found = find_operation_switch(switch_argument);
    if (found == nullptr) {
        return invalid;
    }
    if (found->operation == Operation::Compare) {
        // A compare needs the expected value as argument 3.
        if (argument_count < 3) {
            return invalid;
        }
        return {Selection::Run, {Operation::Compare, found->width, argv[2], argv[3]}};
    }
    return {Selection::Run, {Operation::Read, found->width, argv[2], nullptr}};
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
        std::fputs("Check sum compare pass!", stdout);
        return kExitSuccess;
    }
    std::fputs("Check sum compare fail!", stdout);
    return kExitFailure;
}

int run_program(int argc, const char* const* argv)
{
    const SelectedCommand selected = select_command(argc, argv);
    int exit_code = kExitFailure;
    switch (selected.selection) {
    case Selection::Help:
        std::fputs(kHelpText, stdout);
        break;
    case Selection::Invalid:
        std::fputs(kInvalidArgumentsText, stdout);
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
