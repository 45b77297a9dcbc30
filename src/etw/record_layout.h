// What a record reader wants from an event: which properties, found by the
// names the event's schema gives them, land where in its record.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/etw_api.h"

namespace dormiscope {

// A value of type Value at `offset` of a record's fixed bytes. The slot that
// fills it and every reader of it name the field, so its offset and size are
// spelled once.
template <typename Value>
struct RecordField {
    static_assert(std::is_trivially_copyable_v<Value>);
    std::uint16_t offset;
};

template <typename Value, std::size_t Size>
Value ReadField(const std::array<std::uint8_t, Size>& bytes, RecordField<Value> field) {
    Value value{};
    if (field.offset + sizeof value <= Size) {
        std::memcpy(&value, bytes.data() + field.offset, sizeof value);
    }
    return value;
}

template <typename Value, std::size_t Size>
void WriteField(std::array<std::uint8_t, Size>& bytes, RecordField<Value> field, Value value) {
    if (field.offset + sizeof value <= Size) {
        std::memcpy(bytes.data() + field.offset, &value, sizeof value);
    }
}

// A fixed-size property copied to `offset` of the record: a narrower value is
// widened (the record starts zeroed), a wider one keeps its low `size` bytes.
struct PropertySlot {
    std::u16string_view name;
    std::uint16_t offset;
    std::uint16_t size;
    bool required;
};

// The slot that fills `field` from the property called `name`.
template <typename Value>
constexpr PropertySlot SlotFor(std::u16string_view name, RecordField<Value> field, bool required) {
    return {name, field.offset, static_cast<std::uint16_t>(sizeof(Value)), required};
}

enum class TextForm {
    kBytes,  // 8-bit characters up to the first zero byte, whatever the property's type
    kUtf16,  // UTF-16 code units up to the first zero unit, kept as their little-endian bytes
};

// A property taken as text into one of the record's strings.
struct PropertyText {
    std::u16string_view name;
    TextForm form;
    bool required;
};

struct RecordLayout {
    std::span<const PropertySlot> slots;
    std::span<const PropertyText> texts;
};

// Reads the properties `layout` names: fixed values into `fixed`, texts into
// *texts[i] (one string per entry of layout.texts). Returns whether every
// required property was read. The first event of each event class is read
// through the Trace Data Helper and teaches a decoding plan; later events of
// the class are read from the plan, with the same result.
bool ReadRecord(const EVENT_RECORD& event, const RecordLayout& layout, std::span<std::uint8_t> fixed,
                std::span<std::string* const> texts);

// Drops the plans the calling thread learned: its next event of each class
// is read through the helper again. For a caller whose inputs must not
// teach each other (a fuzzer's, whose inputs name classes without end).
void ForgetDecodingPlans();

// The same, always through the Trace Data Helper: every property fetched by
// name, nothing learned or remembered. The reference the plans must match.
bool ReadRecordThroughHelper(const EVENT_RECORD& event, const RecordLayout& layout, std::span<std::uint8_t> fixed,
                             std::span<std::string* const> texts);

}  // namespace dormiscope
