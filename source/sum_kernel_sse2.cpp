// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "sum_kernels.hpp"

#if ZANDREL_HAVE_SSE2

#include <emmintrin.h>

namespace {

constexpr std::size_t kVectorBytes = 16;
// Four independent accumulators hide the latency of each add.
constexpr std::size_t kBlockBytes = 4 * kVectorBytes;

// Sum of absolute differences against zero adds each half of the 16 bytes
// into its own 64-bit lane (at most 8 * 255 per lane). The lanes wrap modulo
// 2^64, so their low 32 bits stay exact modulo 2^32 for any length: no
// bound on the block count is needed.
inline __m128i lane_sums(const unsigned char* data)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
    return _mm_sad_epu8(bytes, _mm_setzero_si128());
}

} // namespace

std::uint32_t sum_bytes_sse2(std::uint32_t sum, const unsigned char* data, std::size_t length)
{
    __m128i total0 = _mm_setzero_si128();
    __m128i total1 = _mm_setzero_si128();
    __m128i total2 = _mm_setzero_si128();
    __m128i total3 = _mm_setzero_si128();
    std::size_t index = 0;
    for (; length - index >= kBlockBytes; index += kBlockBytes) {
        total0 = _mm_add_epi64(total0, lane_sums(data + index));
        total1 = _mm_add_epi64(total1, lane_sums(data + index + kVectorBytes));
        total2 = _mm_add_epi64(total2, lane_sums(data + index + (2 * kVectorBytes)));
        total3 = _mm_add_epi64(total3, lane_sums(data + index + (3 * kVectorBytes)));
    }
    for (; length - index >= kVectorBytes; index += kVectorBytes) {
        total0 = _mm_add_epi64(total0, lane_sums(data + index));
    }
    __m128i total = _mm_add_epi64(_mm_add_epi64(total0, total1), _mm_add_epi64(total2, total3));
    total = _mm_add_epi64(total, _mm_unpackhi_epi64(total, total));
    sum += static_cast<std::uint32_t>(_mm_cvtsi128_si32(total));
    return sum_bytes_portable(sum, data + index, length - index);
}

#endif
