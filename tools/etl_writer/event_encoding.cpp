#include "etl_writer/event_encoding.h"

#include <stdexcept>
#include <string>

#include "etl_writer/byte_output.h"

namespace dormiscope::etl {
namespace {

constexpr std::size_t kMaximumEventSize = 0xFFFF;  // the size fields are 16 bits

enum class Layout { System, Compact, Perfinfo, Full, Instance, EventHeader };

Layout LayoutOf(HeaderForm form) {
    switch (form) {
    case HeaderForm::System32:
    case HeaderForm::System64:
        return Layout::System;
    case HeaderForm::Compact32:
    case HeaderForm::Compact64:
        return Layout::Compact;
    case HeaderForm::Perfinfo32:
    case HeaderForm::Perfinfo64:
        return Layout::Perfinfo;
    case HeaderForm::Full32:
    case HeaderForm::Full64:
        return Layout::Full;
    case HeaderForm::Instance32:
    case HeaderForm::Instance64:
        return Layout::Instance;
    case HeaderForm::EventHeader32:
    case HeaderForm::EventHeader64:
        return Layout::EventHeader;
    }
    throw std::invalid_argument("unknown header form");
}

// SYSTEM, COMPACT and PERFINFO headers: version word, type, marker, then the
// WMI_TRACE_PACKET (size, type, group).
void PutPacketHeader(Bytes& out, const Event& event, std::uint16_t total_size) {
    PutLE(out, event.version);
    PutLE(out, HeaderTypeByte(event.form));
    PutLE(out, kMarkerTypedHeader);
    PutLE(out, total_size);
    PutLE(out, event.type);
    PutLE(out, event.group);
}

// EVENT_TRACE_HEADER (and the first 0x30 bytes of the instance header).
void PutClassicHeader(Bytes& out, const Event& event, std::uint16_t total_size) {
    PutLE(out, total_size);
    PutLE(out, HeaderTypeByte(event.form));
    PutLE(out, kMarkerTypedHeader);
    PutLE(out, event.type);
    PutLE(out, event.level);
    PutLE(out, event.version);
    PutLE(out, event.tid);
    PutLE(out, event.pid);
    PutLE(out, event.raw_timestamp);
    PutGuid(out, event.provider);
    PutLE(out, std::uint32_t{0});  // KernelTime
    PutLE(out, std::uint32_t{0});  // UserTime
}

void PutEventHeader(Bytes& out, const Event& event, std::uint16_t total_size) {
    PutLE(out, total_size);
    PutLE(out, HeaderTypeByte(event.form));
    PutLE(out, kMarkerTypedHeader);
    PutLE(out, std::uint16_t{0});  // Flags: no extended items
    PutLE(out, std::uint16_t{0});  // EventProperty
    PutLE(out, event.tid);
    PutLE(out, event.pid);
    PutLE(out, event.raw_timestamp);
    PutGuid(out, event.provider);
    PutLE(out, event.event_id);
    PutLE(out, static_cast<std::uint8_t>(event.version));
    PutLE(out, std::uint8_t{0});  // Channel
    PutLE(out, event.level);
    PutLE(out, event.type);        // Opcode
    PutLE(out, std::uint16_t{0});  // Task
    PutLE(out, event.keyword);
    PutLE(out, std::uint32_t{0});  // KernelTime
    PutLE(out, std::uint32_t{0});  // UserTime
    PutZeros(out, 16);             // ActivityId
}

}  // namespace

std::size_t HeaderSize(HeaderForm form) {
    switch (LayoutOf(form)) {
    case Layout::System:
        return kSystemHeaderSize;
    case Layout::Compact:
        return kCompactHeaderSize;
    case Layout::Perfinfo:
        return kPerfInfoHeaderSize;
    case Layout::Full:
        return kFullHeaderSize;
    case Layout::Instance:
        return kInstanceHeaderSize;
    case Layout::EventHeader:
        return kEventHeaderSize;
    }
    throw std::invalid_argument("unknown header form");
}

std::uint8_t HeaderTypeByte(HeaderForm form) {
    switch (form) {
    case HeaderForm::System32:
        return kSystem32;
    case HeaderForm::System64:
        return kSystem64;
    case HeaderForm::Compact32:
        return kCompact32;
    case HeaderForm::Compact64:
        return kCompact64;
    case HeaderForm::Perfinfo32:
        return kPerfInfo32;
    case HeaderForm::Perfinfo64:
        return kPerfInfo64;
    case HeaderForm::Full32:
        return kFullHeader32;
    case HeaderForm::Full64:
        return kFullHeader64;
    case HeaderForm::Instance32:
        return kInstance32;
    case HeaderForm::Instance64:
        return kInstance64;
    case HeaderForm::EventHeader32:
        return kEventHeader32;
    case HeaderForm::EventHeader64:
        return kEventHeader64;
    }
    throw std::invalid_argument("unknown header form");
}

std::vector<std::uint8_t> EncodeEvent(const Event& event) {
    const std::size_t total = HeaderSize(event.form) + event.payload.size();
    if (total > kMaximumEventSize) {
        throw std::invalid_argument("event of " + std::to_string(total) + " bytes exceeds the 16-bit size field");
    }
    const auto size = static_cast<std::uint16_t>(total);
    Bytes out;
    out.reserve(total);
    switch (LayoutOf(event.form)) {
    case Layout::System:
    case Layout::Compact:
        PutPacketHeader(out, event, size);
        PutLE(out, event.tid);
        PutLE(out, event.pid);
        PutLE(out, event.raw_timestamp);
        if (LayoutOf(event.form) == Layout::System) {
            PutLE(out, std::uint32_t{0});  // KernelTime
            PutLE(out, std::uint32_t{0});  // UserTime
        }
        break;
    case Layout::Perfinfo:
        PutPacketHeader(out, event, size);
        PutLE(out, event.raw_timestamp);
        break;
    case Layout::Full:
        PutClassicHeader(out, event, size);
        break;
    case Layout::Instance:
        PutClassicHeader(out, event, size);
        PutLE(out, std::uint32_t{0});  // InstanceId
        PutLE(out, std::uint32_t{0});  // ParentInstanceId
        PutZeros(out, 16);             // ParentGuid
        break;
    case Layout::EventHeader:
        PutEventHeader(out, event, size);
        break;
    }
    out.insert(out.end(), event.payload.begin(), event.payload.end());
    return out;
}

}  // namespace dormiscope::etl
