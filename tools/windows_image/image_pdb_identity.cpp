#include "windows_image/image_pdb_identity.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace dormiscope::windows_image {

namespace {

std::uint32_t Little(const std::string& bytes, std::size_t offset, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t index = 0; index < size; ++index) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + index])) << (8 * index);
    }
    return value;
}

}  // namespace

std::optional<symbols::PdbIdentity> ReadImagePdbIdentity(const std::filesystem::path& image) {
    std::ifstream file(image, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const auto fits = [&bytes](std::size_t offset, std::size_t size) {
        return offset <= bytes.size() && size <= bytes.size() - offset;
    };
    if (!fits(0, 0x40) || bytes.compare(0, 2, "MZ") != 0) {
        return std::nullopt;
    }
    const std::size_t pe = Little(bytes, 0x3c, 4);
    if (!fits(pe, 24) || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        return std::nullopt;
    }
    const std::size_t section_count = Little(bytes, pe + 6, 2);
    const std::size_t optional_header = pe + 24;
    const std::size_t optional_size = Little(bytes, pe + 20, 2);
    if (!fits(optional_header, 2)) {
        return std::nullopt;
    }
    // The data directories follow the PE32 or PE32+ fields; the debug directory is the seventh.
    const bool pe32_plus = Little(bytes, optional_header, 2) == 0x20b;
    const std::size_t debug_entry = optional_header + (pe32_plus ? 112 : 96) + 6 * 8;
    if (!fits(debug_entry, 8) || debug_entry + 8 > optional_header + optional_size) {
        return std::nullopt;
    }
    const std::uint32_t debug_rva = Little(bytes, debug_entry, 4);
    const std::uint32_t debug_size = Little(bytes, debug_entry + 4, 4);
    const auto file_offset = [&](std::uint32_t rva) -> std::optional<std::size_t> {
        for (std::size_t index = 0; index < section_count; ++index) {
            const std::size_t header = optional_header + optional_size + index * 40;
            if (!fits(header, 40)) {
                return std::nullopt;
            }
            const std::uint32_t start = Little(bytes, header + 12, 4);
            const std::uint32_t raw_size = Little(bytes, header + 16, 4);
            if (rva >= start && rva - start < raw_size) {
                return std::size_t{Little(bytes, header + 20, 4)} + (rva - start);
            }
        }
        return std::nullopt;
    };
    const std::optional<std::size_t> directory = file_offset(debug_rva);
    for (std::size_t entry = 0; directory && entry + 28 <= debug_size; entry += 28) {
        const std::size_t at = *directory + entry;
        if (!fits(at, 28)) {
            break;
        }
        if (Little(bytes, at + 12, 4) != 2) {  // IMAGE_DEBUG_TYPE_CODEVIEW
            continue;
        }
        const std::size_t record = Little(bytes, at + 24, 4);
        const std::size_t record_size = Little(bytes, at + 16, 4);
        if (!fits(record, record_size) || record_size < 24 || bytes.compare(record, 4, "RSDS") != 0) {
            continue;
        }
        symbols::PdbIdentity identity;
        std::memcpy(identity.guid.data(), bytes.data() + record + 4, identity.guid.size());
        identity.age = Little(bytes, record + 20, 4);
        // The name ends at its terminator, or at the record's end without one.
        const std::string name(bytes.data() + record + 24, record_size - 24);
        identity.pdb_name = name.substr(0, name.find('\0'));
        return identity;
    }
    return std::nullopt;
}

}  // namespace dormiscope::windows_image
