// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "sum_kernels.hpp"

std::uint32_t sum_bytes_portable(std::uint32_t sum, const unsigned char* data, std::size_t length)
{
    // Unsigned arithmetic wraps, which is exactly the modulo 2^32 we want.
    for (std::size_t index = 0; index < length; ++index) {
        sum += data[index];
    }
    return sum;
}
