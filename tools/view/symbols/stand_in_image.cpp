#include "view/symbols/stand_in_image.h"

#include <cstdint>

namespace dormiscope::symbols {

namespace {

constexpr std::uint32_t kPeHeader = 0x40;
constexpr std::uint32_t kOptionalHeaderSize = 240;  // PE32+ with its 16 data directories
constexpr std::uint32_t kSectionTable = kPeHeader + 24 + kOptionalHeaderSize;
constexpr std::uint32_t kHeadersSize = 0x200;  // the file alignment
constexpr std::uint32_t kSectionAddress = 0x1000;
constexpr std::uint32_t kDebugDirectorySize = 28;
constexpr std::uint32_t kCodeViewHeaderSize = 24;  // "RSDS", GUID, age

void Put(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t index = 0; index < size; ++index) {
        bytes[at + index] = static_cast<char>(value >> (8 * index) & 0xFF);
    }
}

std::uint32_t AlignedUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

std::string StandInImage(const PdbIdentity& identity) {
    const auto record_size = static_cast<std::uint32_t>(kCodeViewHeaderSize + identity.pdb_name.size() + 1);
    const std::uint32_t data_size = kDebugDirectorySize + record_size;
    const std::uint32_t raw_size = AlignedUp(data_size, kHeadersSize);
    std::string bytes(kHeadersSize + raw_size, '\0');

    Put(bytes, 0, 0x5A4D, 2);  // "MZ"
    Put(bytes, 0x3C, kPeHeader, 4);
    Put(bytes, kPeHeader, 0x4550, 4);  // "PE\0\0"
    const std::size_t file_header = kPeHeader + 4;
    Put(bytes, file_header, 0x8664, 2);  // x64
    Put(bytes, file_header + 2, 1, 2);   // one section
    Put(bytes, file_header + 16, kOptionalHeaderSize, 2);
    Put(bytes, file_header + 18, 0x2022, 2);  // an executable, large-address-aware DLL

    const std::size_t optional = file_header + 20;
    Put(bytes, optional, 0x20B, 2);  // PE32+
    Put(bytes, optional + 24, 0x1'8000'0000, 8);  // preferred base
    Put(bytes, optional + 32, kSectionAddress, 4);  // section alignment
    Put(bytes, optional + 36, kHeadersSize, 4);     // file alignment
    Put(bytes, optional + 40, 6, 2);                // operating system version
    Put(bytes, optional + 48, 6, 2);                // subsystem version
    Put(bytes, optional + 56, kSectionAddress + AlignedUp(data_size, kSectionAddress), 4);  // image size
    Put(bytes, optional + 60, kHeadersSize, 4);
    Put(bytes, optional + 68, 3, 2);  // console subsystem
    Put(bytes, optional + 108, 16, 4);  // data directories
    const std::size_t debug_directory_entry = optional + 112 + 6 * 8;
    Put(bytes, debug_directory_entry, kSectionAddress, 4);
    Put(bytes, debug_directory_entry + 4, kDebugDirectorySize, 4);

    bytes.replace(kSectionTable, 6, ".rdata");
    Put(bytes, kSectionTable + 8, data_size, 4);
    Put(bytes, kSectionTable + 12, kSectionAddress, 4);
    Put(bytes, kSectionTable + 16, raw_size, 4);
    Put(bytes, kSectionTable + 20, kHeadersSize, 4);
    Put(bytes, kSectionTable + 36, 0x4000'0040, 4);  // initialized, readable data

    const std::size_t directory = kHeadersSize;
    Put(bytes, directory + 12, 2, 4);  // CodeView
    Put(bytes, directory + 16, record_size, 4);
    Put(bytes, directory + 20, kSectionAddress + kDebugDirectorySize, 4);
    Put(bytes, directory + 24, kHeadersSize + kDebugDirectorySize, 4);

    const std::size_t record = directory + kDebugDirectorySize;
    bytes.replace(record, 4, "RSDS");
    bytes.replace(record + 4, identity.guid.size(),
                  std::string(identity.guid.begin(), identity.guid.end()));
    Put(bytes, record + 20, identity.age, 4);
    bytes.replace(record + kCodeViewHeaderSize, identity.pdb_name.size(), identity.pdb_name);
    return bytes;
}

}  // namespace dormiscope::symbols
