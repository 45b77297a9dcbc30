// TdhGetEventInformation, TdhGetPropertySize and TdhGetProperty for the
// kernel's classic Process, Thread, context-switch, ready-thread and thread-name events.
//
// They run for every property of every event a caller decodes, so the answers
// are prepared once per schema and each call only checks its arguments, copies
// or looks up, and walks the payload as far as the property asked for.
#include <array>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "platform/etw_api.h"
#include "platform/trace_data_helper/tdh_event_layouts.h"
#include "platform/trace_data_helper/tdh_property_location.h"

namespace {

using dormiscope::EventLayout;
using dormiscope::PropertyLocation;

// The array index that, like 0, selects the whole of a non-array property.
constexpr ULONG kWholeProperty = 0xFFFFFFFF;
constexpr std::size_t kNoProperty = ~std::size_t{0};

// The pointer size named by the caller's TDH_CONTEXT array, if it names one;
// false when the array is missing or names a size other than 4 or 8.
bool ApplyPointerSizeContext(ULONG context_count, const TDH_CONTEXT* context, unsigned& pointer_size) {
    if (context == nullptr) {
        return false;
    }
    for (ULONG index = 0; index < context_count; ++index) {
        if (context[index].ParameterType != TDH_CONTEXT_POINTERSIZE) {
            continue;
        }
        const ULONGLONG value = context[index].ParameterValue;
        if (value != 4 && value != 8) {
            return false;
        }
        pointer_size = static_cast<unsigned>(value);
    }
    return true;
}

// The pointer size the event's values were written with: the one a
// TDH_CONTEXT names, else the one its header type implies, else 8.
bool ResolvePointerSize(const EVENT_RECORD& event, ULONG context_count, const TDH_CONTEXT* context,
                        unsigned& pointer_size) {
    const USHORT flags = event.EventHeader.Flags & (EVENT_HEADER_FLAG_32_BIT_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER);
    pointer_size = flags == EVENT_HEADER_FLAG_32_BIT_HEADER ? 4 : 8;
    return context_count == 0 || ApplyPointerSizeContext(context_count, context, pointer_size);
}

const EventLayout* LayoutOf(const EVENT_RECORD& event) {
    const EVENT_DESCRIPTOR& descriptor = event.EventHeader.EventDescriptor;
    return dormiscope::FindEventLayout(event.EventHeader.ProviderId, descriptor.Version, descriptor.Opcode);
}

char16_t UnitAt(const std::uint8_t* text, std::size_t index) {
    char16_t unit = 0;
    std::memcpy(&unit, text + index * sizeof(unit), sizeof(unit));
    return unit;
}

// Whether the caller's NUL-terminated UTF-16 text at `text` equals `name`.
// Reads the caller's text only as far as it matches, so never past its end.
bool TextEquals(const std::uint8_t* text, std::u16string_view name) {
    std::size_t index = 0;
    for (; index < name.size(); ++index) {
        if (UnitAt(text, index) != name[index]) {
            return false;
        }
    }
    return UnitAt(text, index) == u'\0';
}

// The same for a name of known length, unrolled: && reads each unit only
// once every unit before it has matched. Every property of every event is
// looked up by name, and a loop's exit at a different count for each name
// is a mispredicted branch each time.
template <std::size_t... Index>
bool UnitsEqual(const std::uint8_t* text, const char16_t* name, std::index_sequence<Index...>) {
    return ((UnitAt(text, Index) == name[Index]) && ...) && UnitAt(text, sizeof...(Index)) == u'\0';
}

template <std::size_t Length>
bool TextEqualsOfLength(const std::uint8_t* text, const char16_t* name) {
    return UnitsEqual(text, name, std::make_index_sequence<Length>());
}

// The kernel classes' longest property name has 27 characters.
constexpr auto kTextEqualsOfLength = []<std::size_t... Length>(std::index_sequence<Length...>) {
    return std::array{&TextEqualsOfLength<Length>...};
}(std::make_index_sequence<32>());

bool NameEquals(const std::uint8_t* text, std::u16string_view name) {
    return name.size() < kTextEqualsOfLength.size() ? kTextEqualsOfLength[name.size()](text, name.data())
                                                    : TextEquals(text, name);
}

// The caller's buffer that this thread last filled with an image, and whose
// image it was: callers usually name a property by pointing into the
// TRACE_EVENT_INFO they have just received.
struct LastEventInfo {
    std::uintptr_t buffer = 0;
    const EventLayout* layout = nullptr;
};
thread_local LastEventInfo last_event_info;

// Names from anywhere else are compared with every property's name.
std::size_t FindPropertyByText(const EventLayout& layout, const std::uint8_t* name) {
    for (std::size_t index = 0; index < layout.properties.size(); ++index) {
        if (NameEquals(name, layout.properties[index].name)) {
            return index;
        }
    }
    return kNoProperty;
}

std::size_t FindProperty(const EventLayout& layout, const std::uint8_t* name) {
    const std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(name) - last_event_info.buffer;
    if (last_event_info.layout == &layout && offset < layout.event_info.size() && offset % sizeof(char16_t) == 0) {
        // The pointer only suggests which name to try first: the caller may
        // have reused or freed that buffer since, so its text is compared
        // like any other, never read past its end.
        const std::uint8_t index = layout.property_named_at[offset / sizeof(char16_t)];
        if (index != dormiscope::kNoNameHere && NameEquals(name, layout.properties[index].name)) {
            return index;
        }
    }
    return FindPropertyByText(layout, name);
}

TDHSTATUS LocateDescribedProperty(const EVENT_RECORD* event, ULONG context_count, const TDH_CONTEXT* context,
                                  ULONG descriptor_count, const PROPERTY_DATA_DESCRIPTOR* descriptors,
                                  PropertyLocation& location) {
    if (event == nullptr || descriptor_count != 1 || descriptors == nullptr || descriptors->PropertyName == 0 ||
        (descriptors->ArrayIndex != 0 && descriptors->ArrayIndex != kWholeProperty)) {
        return ERROR_INVALID_PARAMETER;
    }
    unsigned pointer_size = 0;
    if (!ResolvePointerSize(*event, context_count, context, pointer_size)) {
        return ERROR_INVALID_PARAMETER;
    }
    const EventLayout* layout = LayoutOf(*event);
    if (layout == nullptr) {
        return ERROR_NOT_FOUND;
    }
    const auto* name = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(descriptors->PropertyName));
    const std::size_t index = FindProperty(*layout, name);
    if (index == kNoProperty) {
        return ERROR_NOT_FOUND;
    }
    const std::span<const std::uint8_t> payload =
        event->UserData == nullptr
            ? std::span<const std::uint8_t>()
            : std::span(static_cast<const std::uint8_t*>(event->UserData), event->UserDataLength);
    return dormiscope::LocateProperty(*layout, index, pointer_size, payload, location);
}

// Most values are a single integer; copy those without a library call.
void CopyValue(std::uint8_t* target, const std::uint8_t* source, std::size_t size) {
    switch (size) {
        case 1:
            *target = *source;
            return;
        case 4:
            std::memcpy(target, source, 4);
            return;
        case 8:
            std::memcpy(target, source, 8);
            return;
        default:
            std::memcpy(target, source, size);
    }
}

}  // namespace

namespace dormiscope::trace_data_helper {

TDHSTATUS WINAPI TdhGetEventInformation(PEVENT_RECORD Event, ULONG TdhContextCount, PTDH_CONTEXT TdhContext,
                                        PTRACE_EVENT_INFO Buffer, PULONG BufferSize) {
    unsigned pointer_size = 0;
    if (Event == nullptr || BufferSize == nullptr ||
        !ResolvePointerSize(*Event, TdhContextCount, TdhContext, pointer_size)) {
        return ERROR_INVALID_PARAMETER;
    }
    const EventLayout* layout = LayoutOf(*Event);
    if (layout == nullptr) {
        return ERROR_NOT_FOUND;
    }
    const auto needed = static_cast<ULONG>(layout->event_info.size());
    if (*BufferSize < needed) {
        *BufferSize = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (Buffer == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::memcpy(Buffer, layout->event_info.data(), needed);
    last_event_info = {reinterpret_cast<std::uintptr_t>(Buffer), layout};
    *BufferSize = needed;
    return ERROR_SUCCESS;
}

TDHSTATUS WINAPI TdhGetPropertySize(PEVENT_RECORD pEvent, ULONG TdhContextCount, PTDH_CONTEXT pTdhContext,
                                    ULONG PropertyDataCount, PPROPERTY_DATA_DESCRIPTOR pPropertyData,
                                    ULONG* pPropertySize) {
    if (pPropertySize == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    PropertyLocation location;
    const TDHSTATUS status =
        LocateDescribedProperty(pEvent, TdhContextCount, pTdhContext, PropertyDataCount, pPropertyData, location);
    if (status == ERROR_SUCCESS) {
        *pPropertySize = location.size;
    }
    return status;
}

TDHSTATUS WINAPI TdhGetProperty(PEVENT_RECORD pEvent, ULONG TdhContextCount, PTDH_CONTEXT pTdhContext,
                                ULONG PropertyDataCount, PPROPERTY_DATA_DESCRIPTOR pPropertyData, ULONG BufferSize,
                                PBYTE pBuffer) {
    if (pBuffer == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    PropertyLocation location;
    const TDHSTATUS status =
        LocateDescribedProperty(pEvent, TdhContextCount, pTdhContext, PropertyDataCount, pPropertyData, location);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (BufferSize < location.size) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    CopyValue(pBuffer, static_cast<const std::uint8_t*>(pEvent->UserData) + location.offset, location.size);
    return ERROR_SUCCESS;
}

}  // namespace dormiscope::trace_data_helper
