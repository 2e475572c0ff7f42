// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// zandrel_request_size BYTES FILE: prints the file's 32-bit sum, read in
// requests of BYTES each, as the program's own read does with its buffer.
#include "byte_sum.hpp"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: zandrel_request_size BYTES FILE\n", stderr);
        return 2;
    }
    const unsigned long long request_size = std::strtoull(argv[1], nullptr, 10);
    const ByteSumResult result = file_byte_sum_in_requests(argv[2], static_cast<std::size_t>(request_size));
    if (result.outcome != ByteSumOutcome::Ok) {
        std::fputs("no sum\n", stderr);
        return 1;
    }
    std::printf("%08x\n", static_cast<unsigned int>(result.sum));
    return 0;
}
