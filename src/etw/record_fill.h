// Puts property values where a record layout wants them and keeps count of
// the required ones, the same way whichever way the values were read.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "etw/property_walk.h"
#include "etw/record_layout.h"

namespace dormiscope {

// What one property of an event's schema becomes in a record.
struct PropertyTarget {
    const PropertySlot* slot = nullptr;
    const PropertyText* text = nullptr;
    std::uint32_t text_index = 0;
    std::uint64_t required_bit = 0;

    bool Wanted() const { return slot != nullptr || text != nullptr; }
};

// The target of property `index` named `name`: a slot first (properties
// usually arrive in declared order, so the slot at the same index is tried
// before the others), else a text, else nothing.
PropertyTarget TargetOf(const RecordLayout& layout, std::size_t index, const PropertyName& name);

// The required-bit of every property the layout requires.
std::uint64_t RequiredMask(const RecordLayout& layout);

// A plan's copies are a few bytes each, one per event: sizes from 8 to 32
// are copied as two overlapping words of fixed width, inline, instead of
// through a library call that first works out how to copy.
inline void CopyFew(std::uint8_t* target, const std::uint8_t* source, std::size_t size) {
    if (size >= 16 && size <= 32) {
        std::memcpy(target, source, 16);
        std::memcpy(target + size - 16, source + size - 16, 16);
    } else if (size >= 8 && size < 16) {
        std::memcpy(target, source, 8);
        std::memcpy(target + size - 8, source + size - 8, 8);
    } else {
        std::copy_n(source, size, target);
    }
}

class RecordFill {
public:
    RecordFill(std::span<std::uint8_t> fixed, std::span<std::string* const> texts, std::uint64_t required)
        : fixed_(fixed), texts_(texts), required_(required) {}

    void Apply(const PropertyTarget& target, std::span<const std::uint8_t> value);
    // Copies a fixed value the plan found in the payload; `size` already fits its slot.
    void Copy(std::uint16_t offset, const std::uint8_t* value, std::uint16_t size, std::uint64_t required_bit) {
        CopyFew(fixed_.data() + offset, value, size);
        read_ |= required_bit;
    }
    bool AllRequiredRead() const { return read_ == required_; }

private:
    std::span<std::uint8_t> fixed_;
    std::span<std::string* const> texts_;
    std::uint64_t required_;
    std::uint64_t read_ = 0;
};

}  // namespace dormiscope
