// The property lists of the kernel's classic Process, Thread, context-switch,
// ready-thread, thread-name, Image, StackWalk, DPC and interrupt events, and
// of the relogger's image identity records, as the Trace Data Helper
// describes them for each event version.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "platform/etw_api.h"
#include "platform/stack_event_classes.h"

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

enum class KernelEventClass : std::uint8_t { Process, Thread, Image, ImageIdentity, StackWalk, PerfInfo };
inline constexpr std::size_t kKernelEventClassCount = 6;

// One schema of a class: a version and the opcodes it describes.
struct EventClassSchema {
    KernelEventClass event_class;
    UCHAR version;
    std::span<const UCHAR> opcodes;
    std::span<const PropertySchema> properties;
};

// The largest number of properties of any schema below.
inline constexpr std::size_t kMaxSchemaProperties = 15;

// {9E814AAD-3204-11D2-9A82-006008A86939}: the provider that declares every kernel class.
inline constexpr GUID kSystemTraceProviderGuid = {0x9E814AAD, 0x3204, 0x11D2,
                                                  {0x9A, 0x82, 0x00, 0x60, 0x08, 0xA8, 0x69, 0x39}};
inline constexpr std::u16string_view kSystemTraceProviderName = u"MSNT_SystemTrace";

// {3D6FA8D0-FE05-11D0-9DDA-00C04FD7BA7C}
inline constexpr GUID kProcessClassGuid = {0x3D6FA8D0, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};
// {3D6FA8D1-FE05-11D0-9DDA-00C04FD7BA7C}
inline constexpr GUID kThreadClassGuid = {0x3D6FA8D1, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};

std::span<const EventClassSchema> KernelEventSchemas();

// The provider GUID of each class, in the order of KernelEventClass.
inline constexpr std::array<GUID, kKernelEventClassCount> kKernelEventClassProviders = {
    kProcessClassGuid, kThreadClassGuid, kImageProvider, kImageIdentityProvider, kStackWalkProvider, kPerfInfoProvider,
};

// The class whose events carry this provider GUID, if it is one of ours.
inline std::optional<KernelEventClass> KernelEventClassOf(const GUID& provider) {
    for (std::size_t index = 0; index < kKernelEventClassProviders.size(); ++index) {
        if (std::memcmp(&provider, &kKernelEventClassProviders[index], sizeof(GUID)) == 0) {
            return static_cast<KernelEventClass>(index);
        }
    }
    return std::nullopt;
}

inline const GUID& ProviderGuidOf(KernelEventClass event_class) {
    return kKernelEventClassProviders[static_cast<std::size_t>(event_class)];
}

std::u16string_view TaskNameOf(KernelEventClass event_class);
std::u16string_view OpcodeNameOf(KernelEventClass event_class, UCHAR opcode);

}  // namespace dormiscope
