// What a record reader wants from an event: which properties, found by the
// names the event's schema gives them, land where in its record.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/etw_api.h"

namespace dormiscope {

// A fixed-size property copied to `offset` of the record: a narrower value is
// widened (the record starts zeroed), a wider one keeps its low `size` bytes.
struct PropertySlot {
    std::u16string_view name;
    std::uint16_t offset;
    std::uint16_t size;
    bool required;
};

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

// The same, always through the Trace Data Helper: every property fetched by
// name, nothing learned or remembered. The reference the plans must match.
bool ReadRecordThroughHelper(const EVENT_RECORD& event, const RecordLayout& layout, std::span<std::uint8_t> fixed,
                             std::span<std::string* const> texts);

}  // namespace dormiscope
