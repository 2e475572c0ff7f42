// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Byte-summing kernels: one portable implementation and SIMD ones beside it,
// all with the same signature and the same result. Each adds every byte of
// data[0, length) to `sum`, modulo 2^32, for any length and any alignment.
#pragma once

#include <cstddef>
#include <cstdint>

// SSE2 is part of every x86-64 processor and NEON (Advanced SIMD) of every
// AArch64 one, so they are chosen at build time; AVX2 is not, so it is chosen
// at run time.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define ZANDREL_HAVE_SSE2 1
#else
#define ZANDREL_HAVE_SSE2 0
#endif
#if defined(__aarch64__) || defined(_M_ARM64)
#define ZANDREL_HAVE_NEON 1
#else
#define ZANDREL_HAVE_NEON 0
#endif
#if ZANDREL_HAVE_SSE2 && (defined(__x86_64__) || defined(_M_X64))
#define ZANDREL_HAVE_AVX2 1
#else
#define ZANDREL_HAVE_AVX2 0
#endif

using SumKernel = std::uint32_t (*)(std::uint32_t sum, const unsigned char* data, std::size_t length);

// The reference: a plain byte loop that the others are held against.
std::uint32_t sum_bytes_portable(std::uint32_t sum, const unsigned char* data, std::size_t length);

#if ZANDREL_HAVE_SSE2
std::uint32_t sum_bytes_sse2(std::uint32_t sum, const unsigned char* data, std::size_t length);
#endif

#if ZANDREL_HAVE_NEON
std::uint32_t sum_bytes_neon(std::uint32_t sum, const unsigned char* data, std::size_t length);
#endif

#if ZANDREL_HAVE_AVX2
// Call only where cpu_has_avx2() is true.
std::uint32_t sum_bytes_avx2(std::uint32_t sum, const unsigned char* data, std::size_t length);
bool cpu_has_avx2();
#endif

// The fastest kernel that needs no question to the processor: the one this
// build is sure of.
inline SumKernel baseline_sum_kernel()
{
#if ZANDREL_HAVE_SSE2
    return sum_bytes_sse2;
#elif ZANDREL_HAVE_NEON
    return sum_bytes_neon;
#else
    return sum_bytes_portable;
#endif
}

// The fastest kernel this build and this processor have.
inline SumKernel select_sum_kernel()
{
#if ZANDREL_HAVE_AVX2
    if (cpu_has_avx2()) {
        return sum_bytes_avx2;
    }
#endif
    return baseline_sum_kernel();
}
