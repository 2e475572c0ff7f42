// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Every summing kernel this build and this processor have, by name, for the
// tests and fuzz targets that hold each against the portable one.
#pragma once

#include "sum_kernels.hpp"

#include <vector>

struct NamedKernel {
    const char* name;
    SumKernel kernel;
};

inline std::vector<NamedKernel> available_kernels()
{
    std::vector<NamedKernel> kernels = {{"portable", sum_bytes_portable}, {"selected", select_sum_kernel()}};
#if ZANDREL_HAVE_SSE2
    kernels.push_back({"sse2", sum_bytes_sse2});
#endif
#if ZANDREL_HAVE_NEON
    kernels.push_back({"neon", sum_bytes_neon});
#endif
#if ZANDREL_HAVE_AVX2
    if (cpu_has_avx2()) {
        kernels.push_back({"avx2", sum_bytes_avx2});
    }
#endif
    return kernels;
}
