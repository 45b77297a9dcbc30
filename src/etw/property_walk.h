// Reading an event the Trace Data Helper's way: ask for its schema, then
// fetch each top-level property by the name the schema gives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/etw_api.h"

namespace dormiscope {

// A property's name as it lies in a schema image: where it starts and how
// many bytes of the image follow, so that comparing never reads past it.
struct PropertyName {
    const std::uint8_t* text = nullptr;
    std::size_t available = 0;
};

bool NameIs(const PropertyName& name, std::u16string_view expected);

// The TRACE_EVENT_INFO image of an event, as TdhGetEventInformation fills it.
class EventSchema {
public:
    // Empty when the helper has no schema for the event.
    static std::optional<EventSchema> Of(const EVENT_RECORD& event);

    // Top-level properties, no more than the image describes.
    ULONG PropertyCount() const { return property_count_; }
    const EVENT_PROPERTY_INFO& Property(ULONG index) const;
    // Empty when the name's offset lies outside the image.
    std::optional<PropertyName> NameOf(ULONG index) const;

private:
    EventSchema(std::vector<std::uint64_t> storage, std::size_t size);

    // 8-byte units keep the image aligned for TRACE_EVENT_INFO.
    std::vector<std::uint64_t> storage_;
    std::size_t size_ = 0;
    ULONG property_count_ = 0;
};

// Fetches one property by name: its size, then its value into `value`.
// Empty when either call fails.
std::optional<std::span<const std::uint8_t>> FetchProperty(const EVENT_RECORD& event, const PropertyName& name,
                                                           std::vector<std::uint8_t>& value);

// How many payload bytes the properties the schema describes take, by the
// sizes the helper gives this event. Empty when the helper cannot tell.
std::optional<std::size_t> DescribedLength(const EVENT_RECORD& event);

}  // namespace dormiscope
