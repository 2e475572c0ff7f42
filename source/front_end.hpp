// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// The command-line front end: selection of what to do, the operations and
// the texts they print.
#pragma once

#include <cstdint>

enum class Operation { Read, Compare };

enum class SumWidth {
    Bits16, // switch digit 4: the sum modulo 65536, four hex digits
    Bits32, // switch digit 8: the whole sum, eight hex digits
};

struct Command {
    Operation operation;
    SumWidth width;
    const char* file_name;
    const char* expected_text; // compare only; nullptr for a read
};

enum class Selection { Help, Invalid, Run };

struct SelectedCommand {
    Selection selection;
    Command command; // meaningful only when selection is Run
};

// Looks at no argument beyond argv[argc - 1]; prints nothing.
SelectedCommand select_command(int argc, const char* const* argv);

// The hex number at the start of `text`, modulo 2^32; 0 when there is none.
std::uint32_t parse_expected(const char* text);

int run_read(const Command& command);
int run_compare(const Command& command);

// The whole program: selection, operation, and the exit code (0 or 1).
int run_program(int argc, const char* const* argv);
