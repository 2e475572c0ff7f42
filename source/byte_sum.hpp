// SPDX-FileCopyrightText: 2022 the Zandrel authors
// SPDX-License-Identifier: BSD-2-Clause
// The checksum engine: the 32-bit sum of every byte of one file.
#pragma once

#include <cstddef>
#include <cstdint>

enum class ByteSumOutcome {
    Ok,           // the sum covers every byte of the file
    OpenFailed,   // the file could not be opened for reading
    BufferFailed, // the work buffer could not be allocated
    ReadFailed,   // the stream reported an error before the end of the file
};

struct ByteSumResult {
    ByteSumOutcome outcome;
    std::uint32_t sum; // meaningful only when outcome is Ok
};

// The work buffer, and the largest request asked of the stream. Each request
// is a system call, and from the page cache their count is what costs: on
// 1 GiB, 64 KiB requests took 1.2 to 1.3 x cat, 256 KiB as long as cat, and
// larger ones no less. 256 KiB also stays in the second-level cache while the
// kernel sums the bytes just copied in.
constexpr std::size_t kWorkBufferSize = std::size_t{256} * 1024;

// The requests before that. Each page of the buffer costs a page fault when
// first used (some 9 us in a virtual machine here): requests of 64 KiB touch
// only a quarter of them, which is what a file of a few MiB can repay.
constexpr std::size_t kFirstRequestSize = std::size_t{64} * 1024;

// Bytes read in first requests before the requests grow to the whole buffer:
// the 48 pages more (some 0.45 ms here) are repaid by the reads saved (some
// 26 us per MiB here) after about 17 MiB; measured, 64 KiB requests were
// still ahead on 16 MiB and behind on 64 MiB.
constexpr std::size_t kFirstRequestsBytes = std::size_t{16} * 1024 * 1024;

// Sums the named file in one pass, in constant memory.
ByteSumResult file_byte_sum(const char* file_name);

// The same, asking the stream for `request_size` bytes at a time throughout;
// the work buffer holds one request.
ByteSumResult file_byte_sum_in_requests(const char* file_name, std::size_t request_size);
