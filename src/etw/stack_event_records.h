// Records of the events that say which code runs: image loads and unloads,
// the images' debug records, stack walks (whole, and the cached-stack
// definitions and references), and DPCs and interrupts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/etw_api.h"

namespace dormiscope {

struct ImageEventData {
    std::int64_t TimeStamp = 0;
    std::uint8_t opcode = 0;
    std::uint64_t ImageBase = 0;
    std::uint64_t ImageSize = 0;
    std::uint32_t ProcessId = 0;
    std::uint32_t ImageCheckSum = 0;
    std::uint32_t TimeDateStamp = 0;
    std::u16string FileName;
};

// The CodeView record of an image: the PDB that describes it.
struct ImageIdentityEventData {
    std::int64_t TimeStamp = 0;
    std::uint64_t ImageBase = 0;
    std::uint32_t ProcessId = 0;
    std::array<std::uint8_t, 16> PdbGuid{};  // as stored: a GUID in its little-endian layout
    std::uint32_t Age = 0;
    std::string PdbFileName;
};

// How the addresses after a stack event's leading properties were found.
enum class StackFrames : std::uint8_t {
    kWhole,
    kTruncated,  // the payload ends inside an address; the whole ones are kept
    kOversized,  // more addresses than the kernel walks; the first ones are kept
};

// A whole stack (EventTimeStamp, StackProcess, StackThread and the frames),
// a cached-stack definition (StackKey and the frames) or a reference
// (EventTimeStamp, StackProcess, StackThread and StackKey). Frames are leaf first.
struct StackEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t ProcessorNumber = 0;
    std::uint8_t opcode = 0;
    std::uint64_t EventTimeStamp = 0;  // the raw clock value of the event the stack belongs to
    std::uint32_t StackProcess = 0;
    std::uint32_t StackThread = 0;
    std::uint64_t StackKey = 0;
    std::vector<std::uint64_t> frames;
    StackFrames frames_read = StackFrames::kWhole;
};

// A DPC (threaded, plain or timer) or an interrupt service routine; logged
// when the routine returns. ReturnValue and Vector are the interrupt's.
struct RoutineEventData {
    std::int64_t TimeStamp = 0;
    std::uint32_t ProcessorNumber = 0;
    std::uint8_t opcode = 0;
    std::uint64_t InitialTime = 0;  // the raw clock value when the routine was entered
    std::uint64_t Routine = 0;
    std::uint8_t ReturnValue = 0;
    std::uint8_t Vector = 0;
};

// Each returns whether the properties the analysis relies on were read (an
// image's base, size and process; a stack's ids or key; a routine's times
// and address). A record whose reading stopped early is not to be used.
bool ReadImageProperties(const EVENT_RECORD& event, ImageEventData& record);
bool ReadImageIdentityProperties(const EVENT_RECORD& event, ImageIdentityEventData& record);
bool ReadStackProperties(const EVENT_RECORD& event, StackEventData& record);
bool ReadRoutineProperties(const EVENT_RECORD& event, RoutineEventData& record);

// The same, always through the Trace Data Helper: the reference the decoding
// plans behind the readers above must match.
bool ReadImagePropertiesThroughHelper(const EVENT_RECORD& event, ImageEventData& record);
bool ReadImageIdentityPropertiesThroughHelper(const EVENT_RECORD& event, ImageIdentityEventData& record);
bool ReadStackPropertiesThroughHelper(const EVENT_RECORD& event, StackEventData& record);
bool ReadRoutinePropertiesThroughHelper(const EVENT_RECORD& event, RoutineEventData& record);

}  // namespace dormiscope
