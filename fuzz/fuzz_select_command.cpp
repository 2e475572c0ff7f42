// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Argument vectors of any count, any bytes and any lengths, held against a
// plain model of the selection rules. Every argument is a heap block of its
// exact size and the vector has exactly argc entries (no terminating null),
// so a look past either is an AddressSanitizer report.
#include "front_end.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

bool starts_with_folded(const std::string& argument, const std::string& switch_text)
{
    if (argument.size() < switch_text.size()) {
        return false;
    }
    for (std::size_t index = 0; index < switch_text.size(); ++index) {
        const unsigned char byte = static_cast<unsigned char>(argument[index]);
        const char folded = (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte | 0x20) : static_cast<char>(byte);
        if (folded != switch_text[index]) {
            return false;
        }
    }
    return true;
}

struct Expected {
    Selection selection;
    Operation operation;
    SumWidth width;
};

Expected model(const std::vector<std::string>& arguments) // after the program name
{
    const Expected invalid = {Selection::Invalid, Operation::Read, SumWidth::Bits16};
    const std::size_t n = arguments.size();
    if (n == 0) {
        return invalid;
    }
    const std::string& s = arguments[0];
    if (n == 1) {
        return starts_with_folded(s, "/?") ? Expected{Selection::Help, Operation::Read, SumWidth::Bits16} : invalid;
    }
    if (starts_with_folded(s, "/r:4")) {
        return {Selection::Run, Operation::Read, SumWidth::Bits16};
    }
    if (starts_with_folded(s, "/r:8")) {
        return {Selection::Run, Operation::Read, SumWidth::Bits32};
    }
    if (n >= 3 && starts_with_folded(s, "/c:4")) {
        return {Selection::Run, Operation::Compare, SumWidth::Bits16};
    }
    if (n >= 3 && starts_with_folded(s, "/c:8")) {
        return {Selection::Run, Operation::Compare, SumWidth::Bits32};
    }
    return invalid;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Arguments are the input's pieces between 0x00 bytes (an argument cannot
    // hold one); no input at all is the vector with no entries, not even a
    // program name.
    std::vector<std::string> pieces;
    if (size > 0) {
        pieces.emplace_back();
        for (std::size_t index = 0; index < size; ++index) {
            if (data[index] == 0) {
                pieces.emplace_back();
            } else {
                pieces.back().push_back(static_cast<char>(data[index]));
            }
        }
    }

    std::vector<std::unique_ptr<char[]>> blocks;
    const auto argv = std::make_unique<const char*[]>(pieces.size() + (pieces.empty() ? 1 : 0));
    for (std::size_t index = 0; index < pieces.size(); ++index) {
        blocks.push_back(std::make_unique<char[]>(pieces[index].size() + 1));
        std::memcpy(blocks.back().get(), pieces[index].c_str(), pieces[index].size() + 1);
        argv[index] = blocks.back().get();
    }
    const int argc = static_cast<int>(pieces.size());
    const SelectedCommand selected = select_command(argc, argv.get());

    const std::vector<std::string> arguments(pieces.empty() ? pieces.end() : pieces.begin() + 1, pieces.end());
    const Expected expected = model(arguments);
    if (selected.selection != expected.selection) {
        std::abort();
    }
    if (expected.selection == Selection::Run) {
        const bool compare = expected.operation == Operation::Compare;
        if (selected.command.operation != expected.operation || selected.command.width != expected.width ||
            selected.command.file_name != argv[2] || selected.command.expected_text != (compare ? argv[3] : nullptr)) {
            std::abort();
        }
    }
    return 0;
}
