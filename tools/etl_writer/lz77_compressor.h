// Plain LZ77 ([MS-XCA] 2.3, Windows compression format 3): the form in which
// compressed trace files store their data buffers.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace dormiscope::etl {

// One independent stream holding `input`: literals and greedy matches (up to
// 8192 bytes back), unused flag bits set to 1 as Windows' encoder leaves them.
std::vector<std::uint8_t> CompressPlainLz77(std::span<const std::uint8_t> input);

}  // namespace dormiscope::etl
