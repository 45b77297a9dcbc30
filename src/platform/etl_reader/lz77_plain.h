// Decoder for the Plain LZ77 compression format (Windows compression format 3),
// in which relogging tools store the events of compressed .etl buffers.
#pragma once

#include <cstdint>
#include <span>

namespace dormiscope {

enum class Lz77Status {
    kOk,
    kTruncatedInput,      // a flag word, literal or match token runs past the input
    kDistanceTooFar,      // a match reaches before the first output byte
    kOutputOverflow,      // the stream produces more bytes than `output` holds
    kOutputIncomplete,    // the stream ends before `output` is full
};

// Decodes one independent stream into exactly output.size() bytes. Any other
// result leaves `output` partly written and reports why.
Lz77Status DecompressPlainLz77(std::span<const std::uint8_t> input, std::span<std::uint8_t> output);

}  // namespace dormiscope
