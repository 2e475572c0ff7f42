#include "available_kernels.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

const std::vector<NamedKernel> kKernels = available_kernels();

std::vector<unsigned char> random_bytes(std::size_t length, std::uint32_t seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<unsigned char> bytes(length);
    for (unsigned char& value : bytes) {
        value = static_cast<unsigned char>(byte(generator));
    }
    return bytes;
}

TEST(SumKernels, MatchThePortableKernelAtEveryLengthAndOffset)
{
    constexpr std::size_t kMaxOffset = 64;
    constexpr std::size_t kMaxLength = 320;
    const std::vector<unsigned char> bytes = random_bytes(kMaxOffset + kMaxLength, 1);
    for (const NamedKernel& implementation : kKernels) {
        for (std::size_t offset = 0; offset < kMaxOffset; ++offset) {
            for (std::size_t length = 0; length <= kMaxLength; ++length) {
                const unsigned char* start = bytes.data() + offset;
                const std::uint32_t carried_in = static_cast<std::uint32_t>(length * 0x01000193u);
                ASSERT_EQ(implementation.kernel(carried_in, start, length),
                          sum_bytes_portable(carried_in, start, length))
                    << implementation.name << ", offset " << offset << ", length " << length;
            }
        }
    }
}

TEST(SumKernels, MatchThePortableKernelOnLongBuffers)
{
    const std::size_t lengths[] = {65536, 65536 + 63, 1u << 20, (3u << 20) + 17};
    for (std::size_t length : lengths) {
        const std::vector<unsigned char> bytes = random_bytes(length, static_cast<std::uint32_t>(length));
        for (const NamedKernel& implementation : kKernels) {
            EXPECT_EQ(implementation.kernel(0, bytes.data(), length), sum_bytes_portable(0, bytes.data(), length))
                << implementation.name << ", length " << length;
        }
    }
}

TEST(SumKernels, WrapModulo2To32)
{
    // 16,843,010 bytes of 0xFF sum to 2^32 + 0xFE.
    const std::vector<unsigned char> ones(16843010, 0xFF);
    for (const NamedKernel& implementation : kKernels) {
        SCOPED_TRACE(implementation.name);
        EXPECT_EQ(implementation.kernel(0, ones.data(), ones.size()), 0xFEu);
        EXPECT_EQ(implementation.kernel(0xFFFFFFF0u, ones.data(), 17), 0xFFFFFFF0u + 17u * 0xFFu);
        EXPECT_EQ(implementation.kernel(0xFFFFFFFFu, ones.data(), 0), 0xFFFFFFFFu);
    }
}

#if ZANDREL_HAVE_AVX2 && (defined(__GNUC__) || defined(__clang__))
// An answer of yes where the processor lacks AVX2 would crash the program;
// the compiler's own processor model is a second opinion.
TEST(SumKernels, Avx2CheckAgreesWithTheCompiler)
{
    EXPECT_EQ(cpu_has_avx2(), __builtin_cpu_supports("avx2") != 0);
}
#endif

} // namespace
