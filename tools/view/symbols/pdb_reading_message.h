// The messages between the view and the process that reads PDBs for it: a
// request (what to read, which build is wanted) and the reading sent back.
// Each is a frame: a magic number, the size of what follows, then the body.
// The decoders trust nothing they are given: every count and length is
// checked against the bytes that arrived, and anything left over, missing or
// out of range refuses the whole message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "view/symbols/pdb_reader.h"

namespace dormiscope::symbols {

struct PdbReadingRequest {
    std::string source;  // what the reading function reads: a path, or a PDB's bytes
    PdbIdentity wanted;
};

inline constexpr std::size_t kFrameHeaderSize = 12;

// The size of the body a frame header announces, or null for a header of
// neither message.
std::optional<std::uint64_t> FrameBodySize(std::string_view header);

std::string EncodePdbReadingRequest(const PdbReadingRequest& request);
std::optional<PdbReadingRequest> DecodePdbReadingRequest(std::string_view message);

std::string EncodePdbReading(const PdbReading& reading);

// Null for a message EncodePdbReading could not have written, or one that
// claims an outcome only the receiving side may give (kReaderFailed).
std::optional<PdbReading> DecodePdbReading(std::string_view message);

}  // namespace dormiscope::symbols
