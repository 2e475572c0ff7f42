#include "sum_kernels.hpp"

#if ZANDREL_HAVE_AVX2

#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h> // __cpuid, __cpuidex
#endif

// GCC and clang compile AVX2 code only where asked to; MSVC always can.
#if defined(__GNUC__) || defined(__clang__)
#define ZANDREL_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define ZANDREL_TARGET_AVX2
#endif

namespace {

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
        total2 = _mm256_add_epi64(total2, lane_sums(data + index + 2 * kVectorBytes));
        total3 = _mm256_add_epi64(total3, lane_sums(data + index + 3 * kVectorBytes));
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
#if !defined(_MSC_VER)
    // GCC's and clang's runtime check also asks whether the system saves the
    // YMM registers.
    return __builtin_cpu_supports("avx2");
#else
    // MSVC: the processor must have AVX2 and the system must save the YMM
    // registers (OSXSAVE set, XCR0 bits 1 and 2).
    int info[4];
    __cpuid(info, 0);
    if (info[0] < 7) {
        return false;
    }
    __cpuid(info, 1);
    const bool os_saves_ymm = (info[2] & (1 << 27)) != 0 && (info[2] & (1 << 28)) != 0 && (_xgetbv(0) & 6) == 6;
    __cpuidex(info, 7, 0);
    return os_saves_ymm && (info[1] & (1 << 5)) != 0;
#endif
}

#endif
