// Unaligned little-endian loads from file bytes.
#pragma once

#include <cstdint>
#include <cstring>
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

}  // namespace dormiscope
