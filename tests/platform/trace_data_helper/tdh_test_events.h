// Hand-built kernel event records for the Trace Data Helper tests, and a
// reader that decodes one the way the project's callers do.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/etw_api.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::testing {

inline constexpr USHORT kFlags64 = EVENT_HEADER_FLAG_CLASSIC_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER;
inline constexpr USHORT kFlags32 = EVENT_HEADER_FLAG_CLASSIC_HEADER | EVENT_HEADER_FLAG_32_BIT_HEADER;

// Little-endian payload bytes, written field by field.
class Payload {
public:
    Payload& U8(std::uint8_t value) { return Raw(&value, 1); }
    Payload& U16(std::uint16_t value) { return Raw(&value, 2); }
    Payload& U32(std::uint32_t value) { return Raw(&value, 4); }
    Payload& U64(std::uint64_t value) { return Raw(&value, 8); }
    Payload& Pointer(std::uint64_t value, unsigned pointer_size) { return Raw(&value, pointer_size); }
    Payload& Ansi(const std::string& text) { return Raw(text.c_str(), text.size() + 1); }
    Payload& Utf16(const std::u16string& text) { return Raw(text.c_str(), 2 * (text.size() + 1)); }
    // A TOKEN_USER (SID pointer, attributes, and on 64-bit its 4 padding bytes)
    // followed by a SID of revision 1 and the given authority.
    Payload& TokenUserSid(std::uint64_t sid_pointer, unsigned pointer_size, std::uint8_t authority,
                          const std::vector<std::uint32_t>& sub_authorities) {
        Pointer(sid_pointer, pointer_size).U32(0);
        if (pointer_size == 8) {
            U32(static_cast<std::uint32_t>(sid_pointer >> 32));
        }
        U8(1).U8(static_cast<std::uint8_t>(sub_authorities.size()));
        for (int byte = 0; byte < 5; ++byte) {
            U8(0);
        }
        U8(authority);
        for (const std::uint32_t sub_authority : sub_authorities) {
            U32(sub_authority);
        }
        return *this;
    }
    Payload& Raw(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), bytes, bytes + size);
        return *this;
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// An EVENT_RECORD owning a copy of its payload in a buffer of exactly that
// size, so that a read past the payload's end is caught by the sanitizers.
class TestEvent {
public:
    TestEvent(const GUID& provider, UCHAR version, UCHAR opcode, const std::vector<std::uint8_t>& payload,
              USHORT flags = kFlags64)
        : payload_(payload.empty() ? nullptr : new std::uint8_t[payload.size()]) {
        if (!payload.empty()) {
            std::memcpy(payload_.get(), payload.data(), payload.size());
        }
        record_.EventHeader.Flags = flags;
        record_.EventHeader.ProviderId = provider;
        record_.EventHeader.EventDescriptor.Version = version;
        record_.EventHeader.EventDescriptor.Opcode = opcode;
        record_.UserDataLength = static_cast<USHORT>(payload.size());
        record_.UserData = payload_.get();
    }
    TestEvent(const TestEvent&) = delete;
    TestEvent& operator=(const TestEvent&) = delete;

    EVENT_RECORD* get() { return &record_; }

private:
    std::unique_ptr<std::uint8_t[]> payload_;
    EVENT_RECORD record_{};
};

// The event's TRACE_EVENT_INFO, fetched with a size query first.
inline std::vector<std::uint8_t> EventInfoOf(EVENT_RECORD* event) {
    ULONG size = 0;
    EXPECT_EQ(TdhGetEventInformation(event, 0, nullptr, nullptr, &size), ERROR_INSUFFICIENT_BUFFER);
    std::vector<std::uint8_t> info(size);
    EXPECT_EQ(TdhGetEventInformation(event, 0, nullptr, reinterpret_cast<PTRACE_EVENT_INFO>(info.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, info.size());
    return info;
}

inline const TRACE_EVENT_INFO& InfoHeader(const std::vector<std::uint8_t>& info) {
    return *reinterpret_cast<const TRACE_EVENT_INFO*>(info.data());
}

inline const EVENT_PROPERTY_INFO& PropertyInfo(const std::vector<std::uint8_t>& info, std::size_t index) {
    return InfoHeader(info).EventPropertyInfoArray[index];
}

inline const char16_t* TextAt(const std::vector<std::uint8_t>& info, ULONG offset) {
    return reinterpret_cast<const char16_t*>(info.data() + offset);
}

// One property fetched by name: the status of the size query and of the
// value query, and the value's bytes.
struct FetchedProperty {
    TDHSTATUS size_status = ERROR_SUCCESS;
    TDHSTATUS value_status = ERROR_SUCCESS;
    std::vector<std::uint8_t> value;
};

inline FetchedProperty FetchProperty(EVENT_RECORD* event, const char16_t* name, ULONG context_count = 0,
                                     TDH_CONTEXT* context = nullptr) {
    PROPERTY_DATA_DESCRIPTOR descriptor{reinterpret_cast<std::uintptr_t>(name), 0, 0};
    FetchedProperty fetched;
    ULONG size = 0;
    fetched.size_status = TdhGetPropertySize(event, context_count, context, 1, &descriptor, &size);
    fetched.value.resize(size);
    // A failed size query leaves no value, yet the value query still gets a buffer.
    std::uint8_t spare = 0;
    fetched.value_status = TdhGetProperty(event, context_count, context, 1, &descriptor, size,
                                          fetched.value.empty() ? &spare : fetched.value.data());
    return fetched;
}

struct NamedValue {
    std::u16string name;
    std::vector<std::uint8_t> value;
};

// Every top-level property in declared order, fetched by the name the
// schema gives, as the project's readers do.
inline std::vector<NamedValue> ReadAllProperties(EVENT_RECORD* event, ULONG context_count = 0,
                                                 TDH_CONTEXT* context = nullptr) {
    const std::vector<std::uint8_t> info = EventInfoOf(event);
    std::vector<NamedValue> values;
    for (ULONG index = 0; index < InfoHeader(info).TopLevelPropertyCount; ++index) {
        const char16_t* name = TextAt(info, PropertyInfo(info, index).NameOffset);
        FetchedProperty fetched = FetchProperty(event, name, context_count, context);
        EXPECT_EQ(fetched.size_status, ERROR_SUCCESS) << "property " << index;
        EXPECT_EQ(fetched.value_status, ERROR_SUCCESS) << "property " << index;
        values.push_back({name, std::move(fetched.value)});
    }
    return values;
}

inline std::vector<std::uint8_t> Concatenated(const std::vector<NamedValue>& values) {
    std::vector<std::uint8_t> bytes;
    for (const NamedValue& value : values) {
        bytes.insert(bytes.end(), value.value.begin(), value.value.end());
    }
    return bytes;
}

}  // namespace dormiscope::testing
