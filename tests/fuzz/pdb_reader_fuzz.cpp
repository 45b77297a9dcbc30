// Reads arbitrary bytes as a PDB: first as whatever build it says it is, then
// as that build, so the symbol streams are reached too; every address a
// function could hold is then looked up.
#include <cstddef>
#include <cstdint>
#include <span>

#include "view/symbols/pdb_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using dormiscope::symbols::PdbReading;
    const std::span<const std::uint8_t> bytes(data, size);
    const PdbReading first = dormiscope::symbols::ReadPdbBytes(bytes, "fuzz.pdb", {});
    if (first.outcome != PdbReading::Outcome::kOtherIdentity) {
        return 0;
    }
    const PdbReading second = dormiscope::symbols::ReadPdbBytes(bytes, "fuzz.pdb", first.found);
    if (second.outcome == PdbReading::Outcome::kOtherIdentity) {
        __builtin_trap();
    }
    for (std::uint32_t offset = 0; offset < 0x4000; offset += 7) {
        (void)second.functions.Lookup(offset);
    }
    return 0;
}
