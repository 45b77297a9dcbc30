// Fixed records that an event's time stamp, processor and property values are
// read into, and the readers that fill them through the Trace Data Helper.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/etw_api.h"

namespace dormiscope {

struct ThreadEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t ProcessorNumber = 0;
    std::array<std::uint8_t, 80> payload{};
};

struct CSwitchEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t ProcessorNumber = 0;
    std::array<std::uint8_t, 24> payload{};
};

struct ProcessEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t ProcessorNumber = 0;
    std::array<std::uint8_t, 40> fixedPart{};
    std::string text1;
    std::string text2;
    std::string text3;
    std::string text4;
};

// Each reader returns whether the fields the model relies on were read
// (the ids of a thread or context-switch event; a process event's id and
// image name). A record whose reading stopped early is not to be used.
// The first event of each class is read through the Trace Data Helper, the
// others from the decoding plan it taught.
bool ReadEventProperties(const EVENT_RECORD& event, ThreadEventData& record);
bool ReadEventProperties(const EVENT_RECORD& event, CSwitchEventData& record);
bool ReadProcessEventProperties(const EVENT_RECORD& event, ProcessEventData& record);

// The same records, every event read through the Trace Data Helper alone:
// what the plans are checked against.
bool ReadEventPropertiesThroughHelper(const EVENT_RECORD& event, ThreadEventData& record);
bool ReadEventPropertiesThroughHelper(const EVENT_RECORD& event, CSwitchEventData& record);
bool ReadProcessEventPropertiesThroughHelper(const EVENT_RECORD& event, ProcessEventData& record);

}  // namespace dormiscope
