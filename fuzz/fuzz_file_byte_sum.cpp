// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// The input written to a file and summed by the engine, in requests of a
// size taken from the input, held against a byte loop; every kernel is also
// held against it at an offset taken from the input.
#include "available_kernels.hpp"
#include "byte_sum.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::uint32_t byte_loop(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t sum = 0;
    for (std::size_t index = 0; index < size; ++index) {
        sum = static_cast<std::uint32_t>(sum + data[index]);
    }
    return sum;
}

void check_kernels(const std::uint8_t* data, std::size_t size)
{
    const std::size_t offset = size > 0 ? data[0] % 64 % (size + 1) : 0;
    const std::uint32_t expected = byte_loop(data + offset, size - offset);
    static const std::vector<NamedKernel> kernels = available_kernels();
    for (const NamedKernel& implementation : kernels) {
        if (implementation.kernel(0, data + offset, size - offset) != expected) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check_kernels(data, size);

    std::string name = "/tmp/zandrel-fuzz-XXXXXX";
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) {
        std::abort();
    }
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::abort();
    }
    // Small requests exercise short and partial reads; 0 means the real buffer.
    const std::size_t request_size = size > 1 ? data[1] % 100 : 0;
    const ByteSumResult result =
        request_size == 0 ? file_byte_sum(name.c_str()) : file_byte_sum_in_requests(name.c_str(), request_size);
    std::remove(name.c_str());
    if (result.outcome != ByteSumOutcome::Ok || result.sum != byte_loop(data, size)) {
        std::abort();
    }
    return 0;
}
