// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "available_kernels.hpp"
#include "cpu_check.hpp"

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

// What real processors answer, and the verdict each must get. Leaf 7's
// answer is as given even above the highest leaf, where an Intel processor
// answers with that leaf's data; XCR0 can be read only where OSXSAVE is set.
struct ProcessorAnswers {
    const char* name;
    std::uint32_t highest_leaf, signature, leaf1_ecx, leaf7_ebx;
    std::uint64_t xcr0;
    bool avx2_usable;
};

constexpr std::uint32_t kHaswellEcx = 0x7FFAFBBF;  // i7-4770: AVX, OSXSAVE, XSAVE
constexpr std::uint32_t kHaswellLeaf7Ebx = 0x000027AB; // AVX2, BMI1, BMI2, ...
constexpr std::uint32_t kHypervisorBit = 1u << 31;
constexpr ProcessorAnswers kProcessors[] = {
    {"Haswell, firmware's 'Limit CPUID Maxval': leaf 7 answers leaf 2", 2, 0x306C3, kHaswellEcx, 0x00F0B5FF, 7, false},
    {"Haswell guest, highest leaf capped at 6", 6, 0x306C3, kHaswellEcx | kHypervisorBit, kHaswellLeaf7Ebx, 7, false},
    {"Haswell guest, highest leaf exactly 7", 7, 0x306C3, kHaswellEcx | kHypervisorBit, kHaswellLeaf7Ebx, 7, true},
    {"Westmere (X5650): no AVX, no XSAVE", 0xB, 0x206C2, 0x029EE3FF, 0, 0, false},
    {"Sandy Bridge (i7-2600), system not saving YMM", 0xD, 0x206A7, 0x1FBAE3FF, 0, 3, false},
    {"Haswell, system saving x87 and SSE only", 0xD, 0x306C3, kHaswellEcx, kHaswellLeaf7Ebx, 3, false},
    {"Haswell (i7-4770)", 0xD, 0x306C3, kHaswellEcx, kHaswellLeaf7Ebx, 7, true},
    {"Skylake-X, AVX-512 state too", 0x16, 0x50654, 0x7FFEFBFF, 0xD19FFFFB, 0xE7, true},
    {"Haswell guest, x87 state not reported", 0xD, 0x306C3, kHaswellEcx | kHypervisorBit, kHaswellLeaf7Ebx, 6, true},
    {"virtual machine hiding AVX2", 0xD, 0x306C3, kHaswellEcx | kHypervisorBit, kHaswellLeaf7Ebx & ~0x20u, 7, false},
    {"virtual machine hiding AVX, not AVX2", 0xD, 0x306C3, (kHaswellEcx | kHypervisorBit) & ~(1u << 28),
     kHaswellLeaf7Ebx, 7, false},
    {"Haswell, system without XSAVE turned on", 0xD, 0x306C3, kHaswellEcx & ~(1u << 27), kHaswellLeaf7Ebx, 7, false},
};

const ProcessorAnswers* g_answering = nullptr;

CpuidAnswer answer_cpuid(std::uint32_t leaf, std::uint32_t)
{
    switch (leaf) {
    case 0: return {g_answering->highest_leaf, 0x756E6547, 0x6C65746E, 0x49656E69}; // GenuineIntel
    case 1: return {g_answering->signature, 0, g_answering->leaf1_ecx, 0};
    case 7: return {0, g_answering->leaf7_ebx, 0, 0};
    default: return {};
    }
}

std::uint64_t answer_xgetbv(std::uint32_t)
{
    // The real instruction would fault here.
    EXPECT_NE(g_answering->leaf1_ecx & (1u << 27), 0u) << "XCR0 read without OSXSAVE";
    return g_answering->xcr0;
}

TEST(SumKernels, Avx2CheckGivesRealProcessorsTheirVerdict)
{
    for (const ProcessorAnswers& processor : kProcessors) {
        g_answering = &processor;
        EXPECT_EQ(avx2_usable(answer_cpuid, answer_xgetbv), processor.avx2_usable) << processor.name;
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
