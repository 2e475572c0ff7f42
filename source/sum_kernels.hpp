// Byte-summing kernels: one portable implementation and SIMD ones beside it,
// all with the same signature and the same result. Each adds every byte of
// data[0, length) to `sum`, modulo 2^32, for any length and any alignment.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define ZANDREL_HAVE_SSE2 1
#else
#define ZANDREL_HAVE_SSE2 0
#endif

// The reference: a plain byte loop that the others are held against.
std::uint32_t sum_bytes_portable(std::uint32_t sum, const unsigned char* data, std::size_t length);

#if ZANDREL_HAVE_SSE2
std::uint32_t sum_bytes_sse2(std::uint32_t sum, const unsigned char* data, std::size_t length);
#endif

// The fastest kernel this build has; the engine calls this one.
inline std::uint32_t sum_bytes(std::uint32_t sum, const unsigned char* data, std::size_t length)
{
#if ZANDREL_HAVE_SSE2
    return sum_bytes_sse2(sum, data, length);
#else
    return sum_bytes_portable(sum, data, length);
#endif
}
