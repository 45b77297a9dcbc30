// Unaligned little-endian loads from file bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <type_traits>

namespace dormiscope {

// The value of type T stored little-endian at `bytes`; the caller has checked
// that sizeof(T) bytes are readable there. Only little-endian hosts are built.
template <typename T>
T LoadLittleEndian(const std::uint8_t* bytes) {
    static_assert(std::is_trivially_copyable_v<T>);
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

// The little-endian UTF-16 units at the start of `bytes`, up to the first
// zero unit or the end (an odd last byte is no unit).
inline std::u16string Utf16Prefix(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    for (std::size_t offset = 0; offset + 1 < bytes.size(); offset += 2) {
        const auto unit = LoadLittleEndian<char16_t>(bytes.data() + offset);
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

}  // namespace dormiscope
