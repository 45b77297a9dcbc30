// The property lists of the kernel's classic Process, Thread, context-switch,
// ready-thread, thread-name, Image, StackWalk, DPC and interrupt events, and
// of the relogger's image identity records, as the Trace Data Helper
// describes them for each event version.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/etw_api.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {

// How a property's length in the payload is determined.
enum class PropertyEncoding : std::uint8_t {
    Fixed,         // a constant number of bytes
    Pointer,       // the event's pointer size
    AnsiString,    // 8-bit characters up to and including a zero byte
    Utf16String,   // 16-bit units up to and including a zero unit
    TokenUserSid,  // 4 zero bytes, or a TOKEN_USER followed by a SID
};

struct PropertySchema {
    std::u16string_view name;
    USHORT in_type;
    USHORT out_type;
    PropertyEncoding encoding;
    USHORT fixed_size;  // bytes for Fixed properties, 0 for every other encoding
};

// One schema of a class: a version and the opcodes it describes.
struct EventClassSchema {
    KernelEventClass event_class;
    UCHAR version;
    std::span<const UCHAR> opcodes;
    std::span<const PropertySchema> properties;
};

// The largest number of properties of any schema below.
inline constexpr std::size_t kMaxSchemaProperties = 15;

std::span<const EventClassSchema> KernelEventSchemas();

}  // namespace dormiscope
