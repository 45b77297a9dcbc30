// Whole Image, image identity, StackWalk, DPC and interrupt events in one
// call, each in the header form its writer uses: image loads and unloads in
// the SYSTEM form, image rundown, stacks, DPCs and interrupts in the PERFINFO
// form, and the relogger's image identity records in the classic full form.
#pragma once

#include <cstdint>
#include <vector>

#include "etl_writer/code_payloads.h"
#include "etl_writer/trace_description.h"

namespace dormiscope::etl {

Event ImageEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint16_t version,
                 std::uint32_t pointer_size, const ImageFields& fields);

Event ImageIdentityEvent(std::uint32_t processor, std::int64_t raw, std::uint32_t pointer_size,
                         const ImageIdentityFields& fields);

// `event_raw` is the raw stamp of the event the stack belongs to.
Event StackEvent(std::uint32_t processor, std::int64_t raw, std::uint64_t event_raw, std::uint32_t process_id,
                 std::uint32_t thread_id, const std::vector<std::uint64_t>& frames, std::uint32_t pointer_size = 8);
// `opcode`: the cache dropped the key, or its rundown.
Event StackKeyDefinitionEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint64_t key,
                              const std::vector<std::uint64_t>& frames, std::uint32_t pointer_size = 8);
// `opcode`: the kernel or the user part of the stack.
Event StackKeyReferenceEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint64_t event_raw,
                             std::uint32_t process_id, std::uint32_t thread_id, std::uint64_t key,
                             std::uint32_t pointer_size = 8);

// A DPC of the given opcode (threaded, plain or timer) that ended at `raw`.
Event DpcEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint64_t initial_raw,
               std::uint64_t routine, std::uint32_t pointer_size = 8);
Event IsrEvent(std::uint32_t processor, std::int64_t raw, std::uint64_t initial_raw, std::uint64_t routine,
               std::uint8_t vector, std::uint32_t pointer_size = 8);

}  // namespace dormiscope::etl
