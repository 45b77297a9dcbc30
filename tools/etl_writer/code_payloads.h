// Payload bytes of the events that say which code runs: Image, the image
// debug record, StackWalk (whole stacks, key definitions and references) and
// the PerfInfo DPC and interrupt events, packed as the kernel logs them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/etw_api.h"

namespace dormiscope::etl {

struct ImageFields {
    std::uint64_t ImageBase = 0;
    std::uint64_t ImageSize = 0;
    std::uint32_t ProcessId = 0;
    std::uint32_t ImageCheckSum = 0x0001'2345;
    std::uint32_t TimeDateStamp = 0x5F1E'2A40;
    std::uint8_t SignatureLevel = 0;  // version 3
    std::uint8_t SignatureType = 0;   // version 3
    std::uint64_t DefaultBase = 0;
    std::u16string FileName;
};

// Image_Load of version 2 or 3 (the same size; 3 splits the first reserved
// field). Throws std::invalid_argument for another version or pointer size.
std::vector<std::uint8_t> ImagePayload(std::uint16_t version, std::uint32_t pointer_size, const ImageFields& fields);

struct ImageIdentityFields {
    std::uint64_t ImageBase = 0;
    std::uint32_t ProcessId = 0;
    GUID PdbGuid{};
    std::uint32_t Age = 1;
    std::string PdbFileName;
};

// The CodeView record (version 2).
std::vector<std::uint8_t> ImageIdentityPayload(std::uint32_t pointer_size, const ImageIdentityFields& fields);

// A whole stack: the raw time stamp of its event, the ids, the addresses leaf first.
std::vector<std::uint8_t> StackPayload(std::uint64_t event_time_stamp, std::uint32_t process_id,
                                       std::uint32_t thread_id, const std::vector<std::uint64_t>& frames,
                                       std::uint32_t pointer_size);
// A cached-stack definition: the key, then the addresses leaf first.
std::vector<std::uint8_t> StackKeyDefinitionPayload(std::uint64_t key, const std::vector<std::uint64_t>& frames,
                                                    std::uint32_t pointer_size);
// A cached-stack reference: the event's raw time stamp, the ids and the key.
std::vector<std::uint8_t> StackKeyReferencePayload(std::uint64_t event_time_stamp, std::uint32_t process_id,
                                                   std::uint32_t thread_id, std::uint64_t key,
                                                   std::uint32_t pointer_size);

// A DPC (threaded, plain or timer): the raw time stamp at entry and the routine.
std::vector<std::uint8_t> DpcPayload(std::uint64_t initial_time, std::uint64_t routine, std::uint32_t pointer_size);
// An interrupt service routine: the same, then its return value and vector.
std::vector<std::uint8_t> IsrPayload(std::uint64_t initial_time, std::uint64_t routine, std::uint8_t return_value,
                                     std::uint8_t vector, std::uint32_t pointer_size);

}  // namespace dormiscope::etl
