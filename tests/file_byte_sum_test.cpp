// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "byte_sum.hpp"

#include "temp_folder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> patterned(std::size_t length)
{
    std::vector<unsigned char> bytes(length);
    for (std::size_t index = 0; index < length; ++index) {
        bytes[index] = static_cast<unsigned char>(index * 37 + 11);
    }
    return bytes;
}

// The sum the way a person would check it: a wide integer, reduced at the end.
std::uint32_t expected_sum(const std::vector<unsigned char>& bytes)
{
    unsigned long long total = 0;
    for (unsigned char byte : bytes) {
        total += byte;
    }
    return static_cast<std::uint32_t>(total % (1ull << 32));
}

TEST(FileByteSum, SumsKnownFiles)
{
    struct Case {
        const char* label;
        std::vector<unsigned char> bytes;
        std::uint32_t sum;
    };
    std::vector<unsigned char> sum_1abcd(429, 0xFF); // 429 * 255 + 0x7a = 0x1abcd
    sum_1abcd.push_back(0x7a);
    const Case cases[] = {
        {"empty", {}, 0u},
        {"one byte 0xff", {0xFF}, 0xFFu},
        {"abc", {'a', 'b', 'c'}, 0x126u},
        {"CR, LF and 0x1A count as stored", {'\r', '\n', 0x1A, 0x00}, 0x0D + 0x0A + 0x1A},
        {"above 16 bits", sum_1abcd, 0x1abcdu},
    };
    TempFolder folder;
    for (const Case& test_case : cases) {
        SCOPED_TRACE(test_case.label);
        const ByteSumResult result = file_byte_sum(folder.write_file("known.bin", test_case.bytes).c_str());
        EXPECT_EQ(result.outcome, ByteSumOutcome::Ok);
        EXPECT_EQ(result.sum, test_case.sum);
    }
}

TEST(FileByteSum, SumsToTheLastByteWhateverTheRequestSize)
{
    // Lengths on both sides of whole requests, for the small request size
    // and for the real work buffer.
    const std::size_t lengths[] = {1,
                                   9,
                                   10,
                                   11,
                                   19,
                                   20,
                                   21,
                                   99,
                                   100,
                                   101,
                                   kWorkBufferSize - 1,
                                   kWorkBufferSize,
                                   kWorkBufferSize + 1,
                                   3 * kWorkBufferSize + 10};
    const std::size_t request_sizes[] = {1, 10, 4096, kWorkBufferSize};
    TempFolder folder;
    for (std::size_t length : lengths) {
        const std::vector<unsigned char> bytes = patterned(length);
        const std::string file = folder.write_file("patterned.bin", bytes);
        for (std::size_t request_size : request_sizes) {
            SCOPED_TRACE("length " + std::to_string(length) + ", requests of " + std::to_string(request_size));
            const ByteSumResult result = file_byte_sum_in_requests(file.c_str(), request_size);
            EXPECT_EQ(result.outcome, ByteSumOutcome::Ok);
            EXPECT_EQ(result.sum, expected_sum(bytes));
        }
    }
}

TEST(FileByteSum, WrapsModulo2To32)
{
    // 16,843,009 * 255 = 0xFFFFFFFF exactly; one more 0xFF wraps to 0xFE.
    constexpr std::size_t kBytesToAllOnes = 16843009;
    TempFolder folder;
    std::vector<unsigned char> bytes(kBytesToAllOnes, 0xFF);
    ByteSumResult result = file_byte_sum(folder.write_file("ones.bin", bytes).c_str());
    EXPECT_EQ(result.outcome, ByteSumOutcome::Ok);
    EXPECT_EQ(result.sum, 0xFFFFFFFFu);

    bytes.push_back(0xFF);
    result = file_byte_sum(folder.write_file("ones.bin", bytes).c_str());
    EXPECT_EQ(result.outcome, ByteSumOutcome::Ok);
    EXPECT_EQ(result.sum, 0xFEu);
}

TEST(FileByteSum, ReportsEachFailureApart)
{
    TempFolder folder;
    const std::string present = folder.write_file("present.bin", {1, 2, 3});
    const std::string missing = (folder.path() / "missing.bin").string();
    const std::string too_long_name = (folder.path() / std::string(300, 'n')).string();
    struct Case {
        const char* label;
        std::string file;
        std::size_t request_size;
        ByteSumOutcome outcome;
    };
    const Case cases[] = {
        {"missing file", missing, kWorkBufferSize, ByteSumOutcome::OpenFailed},
        {"empty name", "", kWorkBufferSize, ByteSumOutcome::OpenFailed},
        {"name too long", too_long_name, kWorkBufferSize, ByteSumOutcome::OpenFailed},
        {"buffer too large to allocate", present, std::numeric_limits<std::size_t>::max(),
         ByteSumOutcome::BufferFailed},
        {"zero-byte buffer", present, 0, ByteSumOutcome::BufferFailed},
#ifdef _WIN32
        {"directory", folder.path().string(), kWorkBufferSize, ByteSumOutcome::OpenFailed},
#else
        // A directory opens on POSIX systems, but its first read fails.
        {"directory", folder.path().string(), kWorkBufferSize, ByteSumOutcome::ReadFailed},
#endif
    };
    for (const Case& test_case : cases) {
        SCOPED_TRACE(test_case.label);
        const ByteSumResult result = file_byte_sum_in_requests(test_case.file.c_str(), test_case.request_size);
        EXPECT_EQ(result.outcome, test_case.outcome);
        EXPECT_EQ(result.sum, 0u);
    }
}

TEST(FileByteSum, LargeFileBeyond4GiB)
{
    // A sparse file: only the marked bytes take disk space, the rest reads as
    // zeros. Bytes on both sides of 2^32 catch any size or offset in 32 bits.
    constexpr unsigned long long k4GiB = 1ull << 32;
    struct Mark {
        unsigned long long offset;
        unsigned char value;
    };
    const Mark marks[] = {{0, 0x11}, {k4GiB - 1, 0x22}, {k4GiB, 0x33}, {k4GiB + 4097, 0x44}};
    TempFolder folder;
    const std::string file = (folder.path() / "sparse.bin").string();
    std::uint32_t expected = 0;
    {
        std::ofstream out(file, std::ios::binary);
        for (const Mark& mark : marks) {
            out.seekp(static_cast<std::streamoff>(mark.offset));
            out.put(static_cast<char>(mark.value));
            expected += mark.value;
        }
        ASSERT_TRUE(out.good());
    }
    ASSERT_GT(std::filesystem::file_size(file), k4GiB);

    const ByteSumResult result = file_byte_sum(file.c_str());
    EXPECT_EQ(result.outcome, ByteSumOutcome::Ok);
    EXPECT_EQ(result.sum, expected);
}

} // namespace
