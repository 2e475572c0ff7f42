// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "byte_sum.hpp"

#include "platform.hpp"
#include "sum_kernels.hpp"

#include <cstdio>
#include <cstdlib>

namespace {

// Closing a stream that was only read can lose nothing: every byte it
// delivered has been summed and read errors were checked before, so a
// failure here does not change the result.
void close_input(std::FILE* stream)
{
    (void)std::fclose(stream);
}

// Requests of `first_request_size` bytes until kFirstRequestsBytes have been
// summed, then of `request_size`, which the work buffer holds.
ByteSumResult sum_in_growing_requests(const char* file_name, std::size_t first_request_size,
                                      std::size_t request_size)
{
    std::FILE* stream = open_for_reading(file_name);
    if (stream == nullptr) {
        return {ByteSumOutcome::OpenFailed, 0};
    }
    // A zero-byte buffer could hold no request at all. malloc, not new: the
    // program then needs the C library alone, which keeps its start quick.
    auto* buffer = static_cast<unsigned char*>(request_size > 0 ? std::malloc(request_size) : nullptr);
    if (buffer == nullptr) {
        close_input(stream);
        return {ByteSumOutcome::BufferFailed, 0};
    }

    std::size_t request = first_request_size;
    std::size_t delivered = std::fread(buffer, 1, request, stream);
    // A file that one request takes whole is summed sooner than the processor
    // can be asked for its fastest kernel (a virtual machine traps each
    // question); only longer ones ask.
    const SumKernel sum_bytes = delivered < request ? baseline_sum_kernel() : select_sum_kernel();
    std::uint32_t sum = 0;
    std::size_t summed_in_first_requests = 0;
    while (delivered > 0) {
        sum = sum_bytes(sum, buffer, delivered);
        // fread comes back short only at the end of the file or on an error,
        // and the end, once met, stays: asking again could bring nothing.
        if (delivered < request) {
            break;
        }
        if (request < request_size) {
            summed_in_first_requests += delivered;
            if (summed_in_first_requests >= kFirstRequestsBytes) {
                request = request_size;
            }
        }
        delivered = std::fread(buffer, 1, request, stream);
    }
    // The loop ends alike at the end of the file and on an error: tell them
    // apart, so that a partial sum is never taken for the file's.
    const bool read_failed = std::ferror(stream) != 0;

    close_input(stream);
    std::free(buffer);
    if (read_failed) {
        return {ByteSumOutcome::ReadFailed, 0};
    }
    return {ByteSumOutcome::Ok, sum};
}

} // namespace

ByteSumResult file_byte_sum(const char* file_name)
{
    return sum_in_growing_requests(file_name, kFirstRequestSize, kWorkBufferSize);
}

ByteSumResult file_byte_sum_in_requests(const char* file_name, std::size_t request_size)
{
    return sum_in_growing_requests(file_name, request_size, request_size);
}
