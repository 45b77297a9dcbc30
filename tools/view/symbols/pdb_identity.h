// Which PDB an image was linked with, as its debug directory and the trace's
// image identity records name it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dormiscope::symbols {

struct PdbIdentity {
    // The GUID's bytes as stored: Data1, Data2 and Data3 little-endian, then Data4.
    std::array<std::uint8_t, 16> guid{};
    std::uint32_t age = 0;
    // As recorded, often the linker's full Windows path.
    std::string pdb_name;

    friend bool operator==(const PdbIdentity&, const PdbIdentity&) = default;
};

// The file name alone, after the last '\' or '/'.
std::string PdbFileName(const PdbIdentity& identity);

// The symbol store's folder for this identity: the GUID in upper-case hex
// without dashes, Data1..Data3 as numbers, then the age in hex.
std::string SymbolStoreKey(const PdbIdentity& identity);

// "{12345678-9ABC-DEF0-1234-56789ABCDEF0}": the GUID as Windows tools print it.
std::string GuidText(const PdbIdentity& identity);

// The GUID's bytes from its text as GuidText writes it (hex digits in either
// case); none for any other text.
std::optional<std::array<std::uint8_t, 16>> GuidFromText(std::string_view text);

// "name.pdb {GUID} age N", for messages telling the user what to fetch.
std::string DescribePdb(const PdbIdentity& identity);

}  // namespace dormiscope::symbols
