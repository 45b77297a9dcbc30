// A PDB reading as bytes, so that a child process can hand its result to the
// view. The decoder trusts nothing it is given: every count and length is
// checked against the bytes that arrived, and anything left over, missing or
// out of range refuses the whole message.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "view/symbols/pdb_reader.h"

namespace dormiscope::symbols {

std::string EncodePdbReading(const PdbReading& reading);

// Null for a message EncodePdbReading could not have written, or one that
// claims an outcome only the receiving side may give (kReaderFailed).
std::optional<PdbReading> DecodePdbReading(std::string_view message);

}  // namespace dormiscope::symbols
