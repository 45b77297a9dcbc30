#include "view/symbols/pdb_identity.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace dormiscope::symbols {

namespace {

struct GuidFields {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
};

GuidFields ReadGuidFields(const std::array<std::uint8_t, 16>& guid) {
    const auto byte = [&guid](std::size_t index) { return static_cast<std::uint32_t>(guid[index]); };
    return {byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24, static_cast<std::uint16_t>(byte(4) | byte(5) << 8),
            static_cast<std::uint16_t>(byte(6) | byte(7) << 8)};
}

std::string Hex(const char* format, std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string PdbFileName(const PdbIdentity& identity) {
    const std::size_t separator = identity.pdb_name.find_last_of("\\/");
    return separator == std::string::npos ? identity.pdb_name : identity.pdb_name.substr(separator + 1);
}

std::string SymbolStoreKey(const PdbIdentity& identity) {
    const GuidFields fields = ReadGuidFields(identity.guid);
    std::string key = Hex("%08X", fields.data1) + Hex("%04X", fields.data2) + Hex("%04X", fields.data3);
    for (std::size_t index = 8; index < identity.guid.size(); ++index) {
        key += Hex("%02X", identity.guid[index]);
    }
    return key + Hex("%X", identity.age);
}

std::string GuidText(const PdbIdentity& identity) {
    const GuidFields fields = ReadGuidFields(identity.guid);
    const auto& tail = identity.guid;
    char guid[48];
    std::snprintf(guid, sizeof guid, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", fields.data1, fields.data2,
                  fields.data3, tail[8], tail[9], tail[10], tail[11], tail[12], tail[13], tail[14], tail[15]);
    return guid;
}

std::optional<std::array<std::uint8_t, 16>> GuidFromText(std::string_view text) {
    constexpr std::string_view kShape = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (text.size() != kShape.size()) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 16> shown{};  // in the order the text shows them
    std::size_t digits = 0;
    for (std::size_t index = 0; index < text.size(); ++index) {
        const char character = text[index];
        if (kShape[index] != 'X') {
            if (character != kShape[index]) {
                return std::nullopt;
            }
            continue;
        }
        const unsigned value = character >= '0' && character <= '9'   ? static_cast<unsigned>(character - '0')
                               : character >= 'A' && character <= 'F' ? static_cast<unsigned>(character - 'A' + 10)
                               : character >= 'a' && character <= 'f' ? static_cast<unsigned>(character - 'a' + 10)
                                                                      : 16U;
        if (value == 16) {
            return std::nullopt;
        }
        shown[digits / 2] = static_cast<std::uint8_t>(shown[digits / 2] << 4 | value);
        ++digits;
    }
    // Data1, Data2 and Data3 are shown as numbers but stored little-endian.
    std::array<std::uint8_t, 16> guid = shown;
    std::reverse(guid.begin(), guid.begin() + 4);
    std::swap(guid[4], guid[5]);
    std::swap(guid[6], guid[7]);
    return guid;
}

std::string DescribePdb(const PdbIdentity& identity) {
    return PdbFileName(identity) + " " + GuidText(identity) + " age " + std::to_string(identity.age);
}

}  // namespace dormiscope::symbols
