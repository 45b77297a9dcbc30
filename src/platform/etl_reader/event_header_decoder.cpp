#include "platform/etl_reader/event_header_decoder.h"

#include <algorithm>
#include <cstring>

#include "platform/etl_reader/etl_layout.h"
#include "platform/etl_reader/little_endian.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope {
namespace {

constexpr ULONG kNoId = 0xFFFFFFFF;
constexpr USHORT kExtTypeInstanceInfo = 4;
constexpr USHORT kPerfInfoPebsFlag = 0x8000;
constexpr std::size_t kPerfInfoItemSize = 8;
constexpr std::size_t kInstanceInfoSize = 0x18;

bool IsThirtyTwoBit(std::uint8_t type) {
    switch (type) {
        case etl::kSystem32:
        case etl::kCompact32:
        case etl::kFullHeader32:
        case etl::kInstance32:
        case etl::kPerfInfo32:
        case etl::kEventHeader32:
            return true;
        default:
            return false;
    }
}

USHORT BitnessFlag(std::uint8_t type) {
    return IsThirtyTwoBit(type) ? EVENT_HEADER_FLAG_32_BIT_HEADER : EVENT_HEADER_FLAG_64_BIT_HEADER;
}

void AddItem(std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>& extended, USHORT type, bool linked,
             const std::uint8_t* data, std::size_t size) {
    EVENT_HEADER_EXTENDED_DATA_ITEM item{};
    item.ExtType = type;
    item.Linkage = linked ? 1 : 0;
    item.DataSize = static_cast<USHORT>(size);
    item.DataPtr = reinterpret_cast<ULONGLONG>(data);
    extended.push_back(item);
}

void SetPayload(EVENT_RECORD& record, const std::uint8_t* event, std::size_t header_size, std::size_t size,
                const std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>& extended) {
    record.ExtendedDataCount = static_cast<USHORT>(extended.size());
    record.ExtendedData = extended.empty() ? nullptr : const_cast<EVENT_HEADER_EXTENDED_DATA_ITEM*>(extended.data());
    if (!extended.empty()) {
        record.EventHeader.Flags |= EVENT_HEADER_FLAG_EXTENDED_INFO;
    }
    record.UserDataLength = static_cast<USHORT>(size - header_size);
    record.UserData = const_cast<std::uint8_t*>(event + header_size);
}

// The translated header shared by every classic form: a kernel group or an
// event class, with opcode, level and version in the descriptor.
void SetClassicHeader(EVENT_HEADER& header, std::size_t size, std::uint8_t type, const GUID& provider,
                      std::uint8_t opcode, std::uint8_t level, std::uint8_t version) {
    header.Size = static_cast<USHORT>(size);
    header.HeaderType = 0;
    header.Flags = static_cast<USHORT>(EVENT_HEADER_FLAG_CLASSIC_HEADER | BitnessFlag(type));
    header.EventProperty = 0;
    header.ProviderId = provider;
    // Consumers compare the descriptor a word at a time right after this: a
    // word load over bytes stored one by one would wait for all of them to
    // reach the cache, so the word is put together first and stored whole.
    const EVENT_DESCRIPTOR descriptor{0, version, 0, level, opcode, 0, 0};
    std::uint64_t leading_word = 0;
    std::memcpy(&leading_word, &descriptor, sizeof leading_word);
    std::memcpy(&header.EventDescriptor, &leading_word, sizeof leading_word);
    header.EventDescriptor.Keyword = 0;
    header.ActivityId = GUID{};
}

DecodedEvent Corrupt() { return {EventOutcome::kCorrupt, 0}; }

// System (full 0x20) and compact (0x18) headers: Packet.Size at +4.
DecodedEvent DecodeSystem(const std::uint8_t* event, std::size_t left, std::uint8_t type, EVENT_RECORD* record,
                          std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>* extended) {
    const bool full = type == etl::kSystem32 || type == etl::kSystem64;
    const std::size_t header_size = full ? etl::kSystemHeaderSize : etl::kCompactHeaderSize;
    if (left < header_size) {
        return Corrupt();
    }
    const std::size_t size = LoadLittleEndian<std::uint16_t>(event + 4);
    if (size < header_size || size > left) {
        return Corrupt();
    }
    const auto time = LoadLittleEndian<std::int64_t>(event + 0x10);
    if (record == nullptr) {
        return {EventOutcome::kEvent, size, time};
    }
    EVENT_HEADER& header = record->EventHeader;
    SetClassicHeader(header, size, type, KernelGroupProvider(event[7]), event[6], 0, event[0]);
    header.ThreadId = LoadLittleEndian<std::uint32_t>(event + 0x08);
    header.ProcessId = LoadLittleEndian<std::uint32_t>(event + 0x0C);
    header.TimeStamp.QuadPart = time;
    header.KernelTime = full ? LoadLittleEndian<std::uint32_t>(event + 0x18) : 0;
    header.UserTime = full ? LoadLittleEndian<std::uint32_t>(event + 0x1C) : 0;
    extended->clear();
    SetPayload(*record, event, header_size, size, *extended);
    return {EventOutcome::kEvent, size, time};
}

// Perfinfo headers: no thread or process id; PEBS and PMC items before the payload.
DecodedEvent DecodePerfInfo(const std::uint8_t* event, std::size_t left, std::uint8_t type, EVENT_RECORD* record,
                            std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>* extended) {
    if (left < etl::kPerfInfoHeaderSize) {
        return Corrupt();
    }
    const auto version = LoadLittleEndian<std::uint16_t>(event);
    const std::size_t pebs_items = (version & kPerfInfoPebsFlag) != 0 ? 1 : 0;
    const std::size_t pmc_counters = (version >> 8) & 7u;
    const std::size_t header_size = etl::kPerfInfoHeaderSize + kPerfInfoItemSize * (pebs_items + pmc_counters);
    const std::size_t size = LoadLittleEndian<std::uint16_t>(event + 4);
    if (size < header_size || size > left) {
        return Corrupt();
    }
    const auto time = LoadLittleEndian<std::int64_t>(event + 0x08);
    if (record == nullptr) {
        return {EventOutcome::kEvent, size, time};
    }
    EVENT_HEADER& header = record->EventHeader;
    SetClassicHeader(header, size, type, KernelGroupProvider(event[7]), event[6], 0, event[0]);
    header.ThreadId = kNoId;
    header.ProcessId = kNoId;
    header.TimeStamp.QuadPart = time;
    header.KernelTime = 0;
    header.UserTime = 0;
    extended->clear();
    const std::uint8_t* item = event + etl::kPerfInfoHeaderSize;
    if (pebs_items != 0) {
        AddItem(*extended, EVENT_HEADER_EXT_TYPE_PEBS_INDEX, pmc_counters != 0, item, kPerfInfoItemSize);
        item += kPerfInfoItemSize;
    }
    if (pmc_counters != 0) {
        AddItem(*extended, EVENT_HEADER_EXT_TYPE_PMC_COUNTERS, false, item, kPerfInfoItemSize * pmc_counters);
    }
    SetPayload(*record, event, header_size, size, *extended);
    return {EventOutcome::kEvent, size, header.TimeStamp.QuadPart};
}

// EVENT_TRACE_HEADER (full) and EVENT_INSTANCE_GUID_HEADER: a class GUID of
// their own; the instance part becomes an INSTANCE_INFO item.
DecodedEvent DecodeClassic(const std::uint8_t* event, std::size_t left, std::uint8_t type, EVENT_RECORD* record,
                           std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>* extended) {
    const bool instance = type == etl::kInstance32 || type == etl::kInstance64;
    const std::size_t header_size = instance ? etl::kInstanceHeaderSize : etl::kFullHeaderSize;
    if (left < header_size) {
        return Corrupt();
    }
    const std::size_t size = LoadLittleEndian<std::uint16_t>(event);
    if (size < header_size || size > left) {
        return Corrupt();
    }
    GUID provider;
    std::memcpy(&provider, event + 0x18, sizeof(provider));
    const auto time = LoadLittleEndian<std::int64_t>(event + 0x10);
    if (record == nullptr) {
        return {EventOutcome::kEvent, size, time};
    }
    EVENT_HEADER& header = record->EventHeader;
    SetClassicHeader(header, size, type, provider, event[4], event[5], event[6]);
    header.ThreadId = LoadLittleEndian<std::uint32_t>(event + 0x08);
    header.ProcessId = LoadLittleEndian<std::uint32_t>(event + 0x0C);
    header.TimeStamp.QuadPart = time;
    header.KernelTime = LoadLittleEndian<std::uint32_t>(event + 0x28);
    header.UserTime = LoadLittleEndian<std::uint32_t>(event + 0x2C);
    extended->clear();
    if (instance) {
        AddItem(*extended, kExtTypeInstanceInfo, false, event + etl::kFullHeaderSize, kInstanceInfoSize);
    }
    SetPayload(*record, event, header_size, size, *extended);
    return {EventOutcome::kEvent, size, header.TimeStamp.QuadPart};
}

// EVENT_HEADER as stored: copied, with the header type cleared and the
// bitness flag (never stored) taken from the header type.
DecodedEvent DecodeEventHeader(const std::uint8_t* event, std::size_t left, std::uint8_t type, EVENT_RECORD* record,
                               std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>* extended) {
    if (left < etl::kEventHeaderSize) {
        return Corrupt();
    }
    const std::size_t size = LoadLittleEndian<std::uint16_t>(event);
    if (size < etl::kEventHeaderSize || size > left) {
        return Corrupt();
    }
    // Only the item chain tells whether such an event is sound: measuring
    // decodes it into a scratch record (these events are rare in kernel traces).
    EVENT_RECORD scratch_record{};
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> scratch_items;
    if (record == nullptr) {
        record = &scratch_record;
        extended = &scratch_items;
    }
    EVENT_HEADER& header = record->EventHeader;
    std::memcpy(&header, event, sizeof(header));
    header.HeaderType = 0;
    header.Flags = static_cast<USHORT>((header.Flags & ~(EVENT_HEADER_FLAG_32_BIT_HEADER |
                                                         EVENT_HEADER_FLAG_64_BIT_HEADER)) |
                                       BitnessFlag(type));
    extended->clear();
    std::size_t payload = etl::kEventHeaderSize;
    if ((header.Flags & EVENT_HEADER_FLAG_EXTENDED_INFO) != 0) {
        for (;;) {
            if (payload > size || size - payload < etl::kExtendedItemHeaderSize) {
                return Corrupt();
            }
            const std::uint8_t* item = event + payload;
            const auto linkage = LoadLittleEndian<std::uint16_t>(item + 4);
            const std::size_t data_size = LoadLittleEndian<std::uint16_t>(item + 6);
            if (data_size > size - payload - etl::kExtendedItemHeaderSize) {
                return Corrupt();
            }
            const bool linked = (linkage & 1u) != 0;
            AddItem(*extended, LoadLittleEndian<std::uint16_t>(item + 2), linked,
                    item + etl::kExtendedItemHeaderSize, data_size);
            payload += etl::AlignEvent(etl::kExtendedItemHeaderSize + data_size);
            if (!linked) {
                break;
            }
        }
        // The last item's padding may reach past an event with no user data.
        payload = std::min(payload, size);
    }
    SetPayload(*record, event, payload, size, *extended);
    return {EventOutcome::kEvent, size, header.TimeStamp.QuadPart};
}

// Decodes into `record` and `extended`, or only measures when they are null.
DecodedEvent Decode(std::span<const std::uint8_t> events, std::size_t position, EVENT_RECORD* record,
                    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>* extended) {
    const std::size_t left = events.size() - position;
    if (left < 4) {
        return {EventOutcome::kEndOfBuffer, 0};
    }
    const std::uint8_t* const event = events.data() + position;
    const std::uint8_t type = event[2];
    if (event[3] == etl::kMarkerTraceMessage && type == 0) {
        const std::size_t size = LoadLittleEndian<std::uint16_t>(event);
        if (size < etl::kTraceMessageHeaderSize || size > left) {
            return Corrupt();
        }
        return {EventOutcome::kSkipped, size};
    }
    if (event[3] != etl::kMarkerTypedHeader) {
        return {EventOutcome::kEndOfBuffer, 0};
    }
    switch (type) {
        case etl::kSystem32:
        case etl::kSystem64:
        case etl::kCompact32:
        case etl::kCompact64:
            return DecodeSystem(event, left, type, record, extended);
        case etl::kPerfInfo32:
        case etl::kPerfInfo64:
            return DecodePerfInfo(event, left, type, record, extended);
        case etl::kFullHeader32:
        case etl::kFullHeader64:
        case etl::kInstance32:
        case etl::kInstance64:
            return DecodeClassic(event, left, type, record, extended);
        case etl::kEventHeader32:
        case etl::kEventHeader64:
            return DecodeEventHeader(event, left, type, record, extended);
        default: {
            // Forms consumers never receive; their first word is their size.
            const std::size_t size = LoadLittleEndian<std::uint16_t>(event);
            if (size < 4 || size > left) {
                return Corrupt();
            }
            return {EventOutcome::kSkipped, size};
        }
    }
}

}  // namespace

DecodedEvent DecodeEvent(std::span<const std::uint8_t> events, std::size_t position, EVENT_RECORD& record,
                         std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM>& extended) {
    return Decode(events, position, &record, &extended);
}

DecodedEvent MeasureEvent(std::span<const std::uint8_t> events, std::size_t position) {
    return Decode(events, position, nullptr, nullptr);
}

}  // namespace dormiscope
