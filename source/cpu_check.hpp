// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// Whether the processor and the system let the AVX2 kernel run, decided from
// what cpuid and xgetbv answer. The instructions are passed in, so that the
// decision is plain code, the same on every processor, and can be held
// against the answers real processors give.
#pragma once

#include <cstdint>

struct CpuidAnswer {
    std::uint32_t eax, ebx, ecx, edx;
};

using CpuidInstruction = CpuidAnswer (*)(std::uint32_t leaf, std::uint32_t subleaf);
// Reads an extended control register; faults unless the system has turned
// XSAVE on, which leaf 1 reports as OSXSAVE.
using XgetbvInstruction = std::uint64_t (*)(std::uint32_t control_register);

// True where the processor has AVX2 and the system saves the YMM registers.
bool avx2_usable(CpuidInstruction cpuid, XgetbvInstruction xgetbv);
