// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
#include "sum_kernels.hpp"

#if ZANDREL_HAVE_NEON

#include <arm_neon.h>

namespace {

constexpr std::size_t kVectorBytes = 16;
// Four independent accumulators hide the latency of each add.
constexpr std::size_t kAccumulators = 4;
constexpr std::size_t kStepBytes = kAccumulators * kVectorBytes;
// A step adds two bytes into every 16-bit lane of each accumulator, at most
// 2 * 255 = 510, so 65535 / 510 = 128 steps fit before a lane could overflow.
constexpr std::size_t kStepsPerWidening = 0xFFFF / (2 * 0xFF);
static_assert(kStepsPerWidening == 128, "16-bit lanes hold 128 steps of two bytes each");

} // namespace

std::uint32_t sum_bytes_neon(std::uint32_t sum, const unsigned char* data, std::size_t length)
{
    // 32-bit lanes wrap modulo 2^32, so their total stays exact modulo 2^32.
    uint32x4_t total = vdupq_n_u32(0);
    std::size_t index = 0;
    while (length - index >= kStepBytes) {
        std::size_t steps = (length - index) / kStepBytes;
        steps = steps < kStepsPerWidening ? steps : kStepsPerWidening;
        uint16x8_t pairs0 = vdupq_n_u16(0);
        uint16x8_t pairs1 = vdupq_n_u16(0);
        uint16x8_t pairs2 = vdupq_n_u16(0);
        uint16x8_t pairs3 = vdupq_n_u16(0);
        for (; steps > 0; --steps, index += kStepBytes) {
            // Pairwise widening adds: neighbouring bytes into one 16-bit lane.
            pairs0 = vpadalq_u8(pairs0, vld1q_u8(data + index));
            pairs1 = vpadalq_u8(pairs1, vld1q_u8(data + index + kVectorBytes));
            pairs2 = vpadalq_u8(pairs2, vld1q_u8(data + index + (2 * kVectorBytes)));
            pairs3 = vpadalq_u8(pairs3, vld1q_u8(data + index + (3 * kVectorBytes)));
        }
        total = vpadalq_u16(total, pairs0);
        total = vpadalq_u16(total, pairs1);
        total = vpadalq_u16(total, pairs2);
        total = vpadalq_u16(total, pairs3);
    }
    sum += vaddvq_u32(total);
    return sum_bytes_portable(sum, data + index, length - index);
}

#endif
