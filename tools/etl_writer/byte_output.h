// Little-endian serialisation into a growing byte vector, the one way every
// structure of the file is written.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/etw_api.h"

namespace dormiscope::etl {

using Bytes = std::vector<std::uint8_t>;

template <std::integral T>
void PutLE(Bytes& out, T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
}

// Overwrites sizeof(T) bytes at `offset`, which must already exist.
template <std::integral T>
void StoreLE(Bytes& out, std::size_t offset, T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.at(offset + i) = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// A pointer-sized field: the low 4 or all 8 bytes of `value`.
// Payload builders take 4 or 8; anything else is a test's mistake.
inline void CheckPointerSize(std::uint32_t pointer_size) {
    if (pointer_size != 4 && pointer_size != 8) {
        throw std::invalid_argument("pointer size must be 4 or 8");
    }
}

inline void PutPointer(Bytes& out, std::uint64_t value, std::uint32_t pointer_size) {
    if (pointer_size == 4) {
        PutLE(out, static_cast<std::uint32_t>(value));
    } else {
        PutLE(out, value);
    }
}

inline void PutGuid(Bytes& out, const GUID& guid) {
    PutLE(out, guid.Data1);
    PutLE(out, guid.Data2);
    PutLE(out, guid.Data3);
    out.insert(out.end(), std::begin(guid.Data4), std::end(guid.Data4));
}

// 8-bit text and its terminating NUL.
inline void PutAnsiZ(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// UTF-16 text and its terminating NUL unit.
inline void PutUtf16Z(Bytes& out, const std::u16string& text) {
    for (char16_t unit : text) {
        PutLE(out, static_cast<std::uint16_t>(unit));
    }
    PutLE(out, std::uint16_t{0});
}

inline void PutZeros(Bytes& out, std::size_t count) { out.insert(out.end(), count, 0); }

}  // namespace dormiscope::etl
