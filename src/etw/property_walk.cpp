#include "etw/property_walk.h"

#include <algorithm>
#include <cstring>

#include "platform/trace_functions.h"

namespace dormiscope {

static_assert(sizeof(WCHAR) == sizeof(char16_t));

bool NameIs(const PropertyName& name, std::u16string_view expected) {
    const std::size_t bytes = expected.size() * sizeof(char16_t);
    if (bytes + sizeof(char16_t) > name.available || std::memcmp(name.text, expected.data(), bytes) != 0) {
        return false;
    }
    char16_t terminator = 1;
    std::memcpy(&terminator, name.text + bytes, sizeof terminator);
    return terminator == 0;
}

std::optional<EventSchema> EventSchema::Of(const EVENT_RECORD& event) {
    auto* const record = const_cast<EVENT_RECORD*>(&event);
    ULONG size = 0;
    if (kTraceFunctions.get_event_information(record, 0, nullptr, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) {
        return std::nullopt;
    }
    std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    const ULONG capacity = size;
    auto* const info = reinterpret_cast<TRACE_EVENT_INFO*>(storage.data());
    if (kTraceFunctions.get_event_information(record, 0, nullptr, info, &size) != ERROR_SUCCESS ||
        size < offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray) || size > capacity) {
        return std::nullopt;
    }
    return EventSchema(std::move(storage), size);
}

EventSchema::EventSchema(std::vector<std::uint64_t> storage, std::size_t size)
    : storage_(std::move(storage)), size_(size) {
    const auto& info = *reinterpret_cast<const TRACE_EVENT_INFO*>(storage_.data());
    const std::size_t described =
        (size_ - offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray)) / sizeof(EVENT_PROPERTY_INFO);
    property_count_ = std::min<ULONG>(info.TopLevelPropertyCount, static_cast<ULONG>(described));
}

const EVENT_PROPERTY_INFO& EventSchema::Property(ULONG index) const {
    return reinterpret_cast<const TRACE_EVENT_INFO*>(storage_.data())->EventPropertyInfoArray[index];
}

std::optional<PropertyName> EventSchema::NameOf(ULONG index) const {
    const ULONG offset = Property(index).NameOffset;
    if (offset >= size_) {
        return std::nullopt;
    }
    return PropertyName{reinterpret_cast<const std::uint8_t*>(storage_.data()) + offset, size_ - offset};
}

std::optional<std::span<const std::uint8_t>> FetchProperty(const EVENT_RECORD& event, const PropertyName& name,
                                                           std::vector<std::uint8_t>& value) {
    auto* const record = const_cast<EVENT_RECORD*>(&event);
    PROPERTY_DATA_DESCRIPTOR descriptor{};
    descriptor.PropertyName = reinterpret_cast<ULONGLONG>(name.text);
    descriptor.ArrayIndex = 0;
    ULONG size = 0;
    if (kTraceFunctions.get_property_size(record, 0, nullptr, 1, &descriptor, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // One byte at least, so that data() is a buffer even for an empty value.
    value.resize(std::max<ULONG>(size, 1));
    if (kTraceFunctions.get_property(record, 0, nullptr, 1, &descriptor, size, value.data()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::span<const std::uint8_t>(value.data(), size);
}

std::optional<std::size_t> DescribedLength(const EVENT_RECORD& event) {
    const std::optional<EventSchema> schema = EventSchema::Of(event);
    if (!schema) {
        return std::nullopt;
    }
    auto* const record = const_cast<EVENT_RECORD*>(&event);
    std::size_t length = 0;
    for (ULONG index = 0; index < schema->PropertyCount(); ++index) {
        const std::optional<PropertyName> name = schema->NameOf(index);
        if (!name) {
            return std::nullopt;
        }
        PROPERTY_DATA_DESCRIPTOR descriptor{};
        descriptor.PropertyName = reinterpret_cast<ULONGLONG>(name->text);
        descriptor.ArrayIndex = 0;
        ULONG size = 0;
        if (kTraceFunctions.get_property_size(record, 0, nullptr, 1, &descriptor, &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        length += size;
    }
    return length;
}

}  // namespace dormiscope
