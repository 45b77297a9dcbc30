// One PDB's functions by address (offsets from the image base): private
// symbols with their sizes, public ones as a fallback for code the private
// symbols do not cover (or all of it, in a stripped PDB).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "view/symbols/frame_text.h"

namespace dormiscope::symbols {

struct FunctionRange {
    std::uint32_t start = 0;
    std::uint32_t end = 0;  // exclusive
    std::string name;
};

struct PublicSymbol {
    std::uint32_t start = 0;
    std::uint32_t section_end = 0;  // a public symbol says nothing of its size: its section bounds it
    std::string name;
};

class FunctionTable {
public:
    FunctionTable() = default;
    FunctionTable(std::vector<FunctionRange> functions, std::vector<PublicSymbol> publics);

    // The function holding `offset`: the private symbol whose range holds it,
    // else the nearest public symbol at or before it in the same section with
    // no other symbol between them.
    std::optional<FunctionOffset> Lookup(std::uint32_t offset) const;

    std::size_t size() const { return functions_.size() + publics_.size(); }

    // By start, as given to the constructor again to rebuild the same table.
    const std::vector<FunctionRange>& functions() const { return functions_; }
    const std::vector<PublicSymbol>& publics() const { return publics_; }

private:
    std::vector<FunctionRange> functions_;  // by start
    std::vector<PublicSymbol> publics_;     // by start
};

}  // namespace dormiscope::symbols
