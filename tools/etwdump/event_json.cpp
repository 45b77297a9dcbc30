#include "etwdump/event_json.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "etw/stack_event_records.h"
#include "etwdump/json_text.h"
#include "platform/etl_reader/little_endian.h"
#include "platform/kernel_event_classes.h"
#include "platform/kernel_power_events.h"

namespace dormiscope::etwdump {
namespace {

// SIDs have at most 15 sub-authorities; the fixed part is revision, count
// and the 6-byte big-endian identifier authority.
constexpr std::size_t kMaxSubAuthorities = 15;
constexpr std::size_t kSidFixedPart = 8;

std::uint64_t LittleEndian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::size_t index = std::min<std::size_t>(bytes.size(), 8); index > 0; --index) {
        value = (value << 8) | bytes[index - 1];
    }
    return value;
}

std::int64_t SignedLittleEndian(std::span<const std::uint8_t> bytes) {
    const std::size_t size = std::min<std::size_t>(bytes.size(), 8);
    std::uint64_t value = LittleEndian(bytes);
    if (size > 0 && size < 8 && (value >> (8 * size - 1)) != 0) {
        value |= ~std::uint64_t{0} << (8 * size);
    }
    return static_cast<std::int64_t>(value);
}

std::string_view AnsiText(std::span<const std::uint8_t> value) {
    std::size_t length = 0;
    while (length < value.size() && value[length] != 0) {
        ++length;
    }
    return {reinterpret_cast<const char*>(value.data()), length};
}

void AppendSid(std::string& out, std::span<const std::uint8_t> value, std::size_t sid_offset) {
    const std::string text = SidText(value, sid_offset);
    if (text.empty()) {
        out += "null";
        return;
    }
    AppendJsonString(out, text);
}

void AppendHexBytes(std::string& out, std::span<const std::uint8_t> value) {
    out += "\"0x";
    for (const std::uint8_t byte : value) {
        AppendHex(out, byte, 2);
    }
    out.push_back('"');
}

void AppendAddress(std::string& out, std::uint64_t address) {
    out += "\"0x";
    const std::size_t start = out.size();
    AppendHex(out, address, 16);
    // No leading zeros: addresses read as they are usually written.
    const std::size_t zeros = std::min(out.find_first_not_of('0', start) - start, std::size_t{15});
    out.erase(start, zeros);
    out.push_back('"');
}

void AppendAddresses(std::string& out, std::span<const std::uint64_t> addresses) {
    out.push_back('[');
    for (std::size_t index = 0; index < addresses.size(); ++index) {
        if (index != 0) {
            out.push_back(',');
        }
        AppendAddress(out, addresses[index]);
    }
    out.push_back(']');
}

void AppendValue(std::string& out, const EVENT_PROPERTY_INFO& property, std::span<const std::uint8_t> value,
                 unsigned pointer_size) {
    const USHORT in_type = property.nonStructType.InType;
    if (in_type == TDH_INTYPE_POINTER && property.nonStructType.OutType == TDH_OUTTYPE_HEXINT64) {
        AppendAddress(out, LittleEndian(value));
        return;
    }
    if (in_type == TDH_INTYPE_GUID && value.size() == sizeof(GUID)) {
        GUID guid;
        std::memcpy(&guid, value.data(), sizeof guid);
        AppendJsonString(out, GuidText(guid));
        return;
    }
    switch (in_type) {
        case TDH_INTYPE_UNICODESTRING:
            AppendJsonString(out, Utf16Prefix(value));
            return;
        case TDH_INTYPE_ANSISTRING:
            AppendJsonString(out, AnsiText(value));
            return;
        case TDH_INTYPE_INT8:
        case TDH_INTYPE_INT16:
        case TDH_INTYPE_INT32:
        case TDH_INTYPE_INT64:
        case TDH_INTYPE_FILETIME:
            out += std::to_string(SignedLittleEndian(value));
            return;
        case TDH_INTYPE_UINT8:
        case TDH_INTYPE_UINT16:
        case TDH_INTYPE_UINT32:
        case TDH_INTYPE_UINT64:
        case TDH_INTYPE_HEXINT32:
        case TDH_INTYPE_HEXINT64:
        case TDH_INTYPE_POINTER:
        case TDH_INTYPE_SIZET:
            out += std::to_string(LittleEndian(value));
            return;
        case TDH_INTYPE_WBEMSID:
            // A TOKEN_USER (two pointer-sized fields) comes first, unless the
            // event has no SID at all (4 zero bytes).
            AppendSid(out, value, 2 * pointer_size);
            return;
        case TDH_INTYPE_SID:
            AppendSid(out, value, 0);
            return;
        default:
            AppendHexBytes(out, value);
            return;
    }
}

}  // namespace

unsigned PointerSizeOf(const EVENT_RECORD& event) {
    const USHORT flags =
        event.EventHeader.Flags & (EVENT_HEADER_FLAG_32_BIT_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER);
    return flags == EVENT_HEADER_FLAG_32_BIT_HEADER ? 4 : 8;
}

std::string SidText(std::span<const std::uint8_t> blob, std::size_t sid_offset) {
    if (blob.size() < sid_offset + kSidFixedPart) {
        return {};
    }
    const std::span<const std::uint8_t> sid = blob.subspan(sid_offset);
    const std::size_t sub_authorities = sid[1];
    if (sub_authorities > kMaxSubAuthorities || sid.size() < kSidFixedPart + 4 * sub_authorities) {
        return {};
    }
    std::uint64_t authority = 0;
    for (std::size_t index = 2; index < kSidFixedPart; ++index) {
        authority = (authority << 8) | sid[index];
    }
    std::string text = "S-" + std::to_string(sid[0]) + "-";
    if (authority >> 32 == 0) {
        text += std::to_string(authority);
    } else {
        char hex[20];
        std::snprintf(hex, sizeof(hex), "0x%012llX", static_cast<unsigned long long>(authority));
        text += hex;
    }
    for (std::size_t index = 0; index < sub_authorities; ++index) {
        text += '-';
        text += std::to_string(LittleEndian(sid.subspan(kSidFixedPart + 4 * index, 4)));
    }
    return text;
}

void EventJsonWriter::Append(std::string& out, EVENT_RECORD& event) {
    const EVENT_HEADER& header = event.EventHeader;
    const bool has_processor_index = (header.Flags & EVENT_HEADER_FLAG_PROCESSOR_INDEX) != 0;
    JsonObject object(out);
    object.Number("timestamp", header.TimeStamp.QuadPart);
    object.Number("processor",
                  has_processor_index ? event.BufferContext.ProcessorIndex : event.BufferContext.ProcessorNumber);
    AppendJsonString(object.Key("provider"), GuidText(header.ProviderId));
    object.Number("opcode", header.EventDescriptor.Opcode);
    object.Number("version", header.EventDescriptor.Version);
    object.Number("id", header.EventDescriptor.Id);
    object.Number("task", header.EventDescriptor.Task);
    object.Number("pointer_size", PointerSizeOf(event));
    object.Number("pid", header.ProcessId);
    object.Number("tid", header.ThreadId);
    object.Number("user_data_length", event.UserDataLength);
    if (SameGuid(header.ProviderId, kKernelPowerProvider) &&
        !TimerResolutionEventName(header.EventDescriptor.Id).empty()) {
        AppendTimerResolutionProperties(object.Key("properties"), event);
        return;
    }
    AppendProperties(object.Key("properties"), event);
    AppendStackFrames(object, event);
}

void EventJsonWriter::AppendTimerResolutionProperties(std::string& out, const EVENT_RECORD& event) {
    if (ReadTimerResolutionEvent(event, timer_) != TimerResolutionRead::kRead) {
        out += "null";
        return;
    }
    const TimerResolutionLayout* layout = TimerResolutionLayoutOf(timer_.id, timer_.version);
    JsonObject properties(out);
    for (const TimerResolutionField& field : layout->fields) {
        if (field.value == TimerValue::kAppName) {
            AppendJsonString(properties.Key(field.name), timer_.AppName);
        } else if (field.value == TimerValue::kStack) {
            AppendAddresses(properties.Key(field.name), timer_.Stack);
        } else {
            properties.Number(field.name, TimerNumber(timer_, field.value));
        }
    }
}

void EventJsonWriter::AppendStackFrames(JsonObject& object, const EVENT_RECORD& event) {
    if (!SameGuid(event.EventHeader.ProviderId, kStackWalkProvider) || !ReadStackProperties(event, stack_) ||
        (stack_.frames.empty() && stack_.frames_read == StackFrames::kWhole)) {
        return;
    }
    AppendAddresses(object.Key("frames"), stack_.frames);
    if (stack_.frames_read != StackFrames::kWhole) {
        AppendJsonString(object.Key("frames_damage"),
                         stack_.frames_read == StackFrames::kTruncated ? "truncated" : "oversized");
    }
}

void EventJsonWriter::AppendProperties(std::string& out, EVENT_RECORD& event) {
    ULONG info_size = 0;
    if (TdhGetEventInformation(&event, 0, nullptr, nullptr, &info_size) != ERROR_INSUFFICIENT_BUFFER) {
        out += "null";
        return;
    }
    event_info_.resize(info_size);
    auto* info = reinterpret_cast<TRACE_EVENT_INFO*>(event_info_.data());
    if (info_size < offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray) ||
        TdhGetEventInformation(&event, 0, nullptr, info, &info_size) != ERROR_SUCCESS) {
        out += "null";
        return;
    }
    const std::size_t array_end = offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray);
    const ULONG count = std::min<ULONG>(info->TopLevelPropertyCount,
                                        static_cast<ULONG>((info_size - array_end) / sizeof(EVENT_PROPERTY_INFO)));
    JsonObject properties(out);
    for (ULONG index = 0; index < count; ++index) {
        const EVENT_PROPERTY_INFO& property = info->EventPropertyInfoArray[index];
        std::span<const std::uint8_t> name_bytes = property.NameOffset < info_size
                                                       ? std::span<const std::uint8_t>(event_info_).subspan(
                                                             property.NameOffset, info_size - property.NameOffset)
                                                       : std::span<const std::uint8_t>();
        const std::uint8_t* const name_address = name_bytes.data();
        const std::optional<std::u16string> name = TakeUtf16(name_bytes);
        if (!name) {
            continue;
        }
        AppendPropertyValue(properties.Key(std::u16string_view(*name)), event, property, name_address);
    }
}

void EventJsonWriter::AppendPropertyValue(std::string& out, EVENT_RECORD& event, const EVENT_PROPERTY_INFO& property,
                                          const std::uint8_t* name) {
    PROPERTY_DATA_DESCRIPTOR descriptor{reinterpret_cast<std::uintptr_t>(name), 0, 0};
    ULONG size = 0;
    if ((property.Flags & PropertyStruct) != 0 ||
        TdhGetPropertySize(&event, 0, nullptr, 1, &descriptor, &size) != ERROR_SUCCESS) {
        out += "null";
        return;
    }
    // At least one byte, so that the value buffer is never a null pointer.
    value_.resize(std::max<ULONG>(size, 1));
    if (TdhGetProperty(&event, 0, nullptr, 1, &descriptor, size, value_.data()) != ERROR_SUCCESS) {
        out += "null";
        return;
    }
    AppendValue(out, property, std::span<const std::uint8_t>(value_.data(), size), PointerSizeOf(event));
}

}  // namespace dormiscope::etwdump
