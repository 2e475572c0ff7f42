// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Preloaded into the program by the end-to-end test for "buffer fail": every
// allocation of a work buffer's size or more fails, as under memory pressure.
// Smaller ones (the C library's own) go through.
#include "byte_sum.hpp"

#include <cerrno>
#include <cstddef>

extern "C" void* __libc_malloc(std::size_t size);

extern "C" void* malloc(std::size_t size)
{
    if (size >= kWorkBufferSize) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(size);
}
