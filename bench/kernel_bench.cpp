// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Bytes per second of each summing kernel on a buffer that stays in cache.
#include "byte_sum.hpp"
#include "sum_kernels.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

template <std::uint32_t (*Kernel)(std::uint32_t, const unsigned char*, std::size_t)>
void sum_in_cache(benchmark::State& state)
{
    const auto length = static_cast<std::size_t>(state.range(0));
    std::vector<unsigned char> buffer(length);
    for (std::size_t index = 0; index < length; ++index) {
        buffer[index] = static_cast<unsigned char>(index * 131 + 7);
    }
    std::uint32_t sum = 0;
    for (auto _ : state) {
        sum = Kernel(sum, buffer.data(), buffer.size());
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// 16 KiB fits the first-level cache; the other size is the engine's work buffer.
constexpr std::int64_t kEngineBufferSize = static_cast<std::int64_t>(kWorkBufferSize);
BENCHMARK_TEMPLATE(sum_in_cache, sum_bytes_portable)->Arg(16 << 10)->Arg(kEngineBufferSize);
#if ZANDREL_HAVE_SSE2
BENCHMARK_TEMPLATE(sum_in_cache, sum_bytes_sse2)->Arg(16 << 10)->Arg(kEngineBufferSize);
#endif
#if ZANDREL_HAVE_NEON
BENCHMARK_TEMPLATE(sum_in_cache, sum_bytes_neon)->Arg(16 << 10)->Arg(kEngineBufferSize);
#endif
#if ZANDREL_HAVE_AVX2
void sum_in_cache_avx2(benchmark::State& state)
{
    if (!cpu_has_avx2()) {
        state.SkipWithError("this processor has no AVX2");
        return;
    }
    sum_in_cache<sum_bytes_avx2>(state);
}
BENCHMARK(sum_in_cache_avx2)->Arg(16 << 10)->Arg(kEngineBufferSize);
#endif

} // namespace
