// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "sum_kernels.hpp"

#include "cpu_check.hpp"

#if ZANDREL_HAVE_AVX2

#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h> // __cpuidex
#else
#include <cpuid.h> // __cpuid_count
#endif

// GCC and clang compile AVX2 code (and xgetbv) only where asked to; MSVC
// always can.
#if defined(__GNUC__) || defined(__clang__)
#define ZANDREL_TARGET_AVX2 __attribute__((target("avx2")))
#define ZANDREL_TARGET_XSAVE __attribute__((target("xsave")))
#else
#define ZANDREL_TARGET_AVX2
#define ZANDREL_TARGET_XSAVE
#endif

namespace {

// Asked directly rather than through the compiler's processor model, whose
// set-up runs a dozen cpuid at every start; a virtual machine traps each.
CpuidAnswer cpuid(std::uint32_t leaf, std::uint32_t subleaf)
{
#if defined(_MSC_VER)
    int info[4];
    __cpuidex(info, static_cast<int>(leaf), static_cast<int>(subleaf));
    return {static_cast<std::uint32_t>(info[0]), static_cast<std::uint32_t>(info[1]),
            static_cast<std::uint32_t>(info[2]), static_cast<std::uint32_t>(info[3])};
#else
    CpuidAnswer answer{};
    __cpuid_count(leaf, subleaf, answer.eax, answer.ebx, answer.ecx, answer.edx);
    return answer;
#endif
}

ZANDREL_TARGET_XSAVE std::uint64_t xgetbv(std::uint32_t control_register)
{
    return static_cast<std::uint64_t>(_xgetbv(control_register));
}

constexpr std::size_t kVectorBytes = 32;
constexpr std::size_t kBlockBytes = 4 * kVectorBytes;

// As in the SSE2 kernel: four 64-bit lanes, each the sum of 8 bytes (at most
// 8 * 255), wrapping modulo 2^64 and so exact modulo 2^32 for any length.
ZANDREL_TARGET_AVX2 inline __m256i lane_sums(const unsigned char* data)
{
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data));
    return _mm256_sad_epu8(bytes, _mm256_setzero_si256());
}

} // namespace

ZANDREL_TARGET_AVX2 std::uint32_t sum_bytes_avx2(std::uint32_t sum, const unsigned char* data, std::size_t length)
{
    __m256i total0 = _mm256_setzero_si256();
    __m256i total1 = _mm256_setzero_si256();
    __m256i total2 = _mm256_setzero_si256();
    __m256i total3 = _mm256_setzero_si256();
    std::size_t index = 0;
    for (; length - index >= kBlockBytes; index += kBlockBytes) {
        total0 = _mm256_add_epi64(total0, lane_sums(data + index));
        total1 = _mm256_add_epi64(total1, lane_sums(data + index + kVectorBytes));
        total2 = _mm256_add_epi64(total2, lane_sums(data + index + (2 * kVectorBytes)));
        total3 = _mm256_add_epi64(total3, lane_sums(data + index + (3 * kVectorBytes)));
    }
    for (; length - index >= kVectorBytes; index += kVectorBytes) {
        total0 = _mm256_add_epi64(total0, lane_sums(data + index));
    }
    const __m256i total = _mm256_add_epi64(_mm256_add_epi64(total0, total1), _mm256_add_epi64(total2, total3));
    __m128i half = _mm_add_epi64(_mm256_castsi256_si128(total), _mm256_extracti128_si256(total, 1));
    half = _mm_add_epi64(half, _mm_unpackhi_epi64(half, half));
    sum += static_cast<std::uint32_t>(_mm_cvtsi128_si32(half));
    // The SSE2 kernel takes the last 31 bytes or fewer.
    return sum_bytes_sse2(sum, data + index, length - index);
}

bool cpu_has_avx2()
{
    return avx2_usable(cpuid, xgetbv);
}

#endif
