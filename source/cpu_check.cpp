// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "cpu_check.hpp"

namespace {

constexpr std::uint32_t kBasicInfoLeaf = 0;   // EAX: the highest leaf the processor answers
constexpr std::uint32_t kFeatureLeaf = 1;     // ECX: OSXSAVE, AVX
constexpr std::uint32_t kExtendedFeatureLeaf = 7; // EBX: AVX2
constexpr std::uint32_t kOsxsaveBit = 1u << 27;
constexpr std::uint32_t kAvxBit = 1u << 28;
constexpr std::uint32_t kAvx2Bit = 1u << 5;
constexpr std::uint32_t kXcr0 = 0;
// XCR0 bits 1 and 2: the system saves the SSE and the upper YMM halves. Bit 0
// (x87) is no concern of AVX2's.
constexpr std::uint64_t kXcr0SseAndYmmState = 6;

} // namespace

bool avx2_usable(CpuidInstruction cpuid, XgetbvInstruction xgetbv)
{
    // Above its highest leaf an Intel processor answers with that leaf's
    // data, which may well have the AVX2 bit set.
    if (cpuid(kBasicInfoLeaf, 0).eax < kExtendedFeatureLeaf) {
        return false;
    }
    const std::uint32_t features = cpuid(kFeatureLeaf, 0).ecx;
    if ((features & kOsxsaveBit) == 0 || (features & kAvxBit) == 0) {
        return false;
    }
    if ((xgetbv(kXcr0) & kXcr0SseAndYmmState) != kXcr0SseAndYmmState) {
        return false;
    }
    return (cpuid(kExtendedFeatureLeaf, 0).ebx & kAvx2Bit) != 0;
}
