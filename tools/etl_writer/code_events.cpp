#include "etl_writer/code_events.h"

#include "etl_writer/kernel_events.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::etl {

Event ImageEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint16_t version,
                 std::uint32_t pointer_size, const ImageFields& fields) {
    const bool rundown = opcode == kOpcodeImageDCStart || opcode == kOpcodeImageDCEnd;
    Event event = GroupEvent(processor, raw, rundown ? PerfinfoForm(pointer_size) : SystemForm(pointer_size),
                             kGroupImage, opcode, version, ImagePayload(version, pointer_size, fields));
    event.pid = fields.ProcessId;
    return event;
}

Event ImageIdentityEvent(std::uint32_t processor, std::int64_t raw, std::uint32_t pointer_size,
                         const ImageIdentityFields& fields) {
    Event event;
    event.processor = processor;
    event.raw_timestamp = raw;
    event.form = pointer_size == 4 ? HeaderForm::Full32 : HeaderForm::Full64;
    event.provider = kImageIdentityProvider;
    event.type = kOpcodeImageDebugRecord;
    event.version = kImageIdentityVersion;
    event.pid = fields.ProcessId;
    event.payload = ImageIdentityPayload(pointer_size, fields);
    return event;
}

Event StackEvent(std::uint32_t processor, std::int64_t raw, std::uint64_t event_raw, std::uint32_t process_id,
                 std::uint32_t thread_id, const std::vector<std::uint64_t>& frames, std::uint32_t pointer_size) {
    return GroupEvent(processor, raw, PerfinfoForm(pointer_size), kGroupStackWalk, kOpcodeStack, kStackWalkVersion,
                      StackPayload(event_raw, process_id, thread_id, frames, pointer_size));
}

Event StackKeyDefinitionEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint64_t key,
                              const std::vector<std::uint64_t>& frames, std::uint32_t pointer_size) {
    return GroupEvent(processor, raw, PerfinfoForm(pointer_size), kGroupStackWalk, opcode, kStackWalkVersion,
                      StackKeyDefinitionPayload(key, frames, pointer_size));
}

Event StackKeyReferenceEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint64_t event_raw,
                             std::uint32_t process_id, std::uint32_t thread_id, std::uint64_t key,
                             std::uint32_t pointer_size) {
    return GroupEvent(processor, raw, PerfinfoForm(pointer_size), kGroupStackWalk, opcode, kStackWalkVersion,
                      StackKeyReferencePayload(event_raw, process_id, thread_id, key, pointer_size));
}

Event DpcEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint64_t initial_raw,
               std::uint64_t routine, std::uint32_t pointer_size) {
    return GroupEvent(processor, raw, PerfinfoForm(pointer_size), kGroupPerfInfo, opcode, kPerfInfoVersion,
                      DpcPayload(initial_raw, routine, pointer_size));
}

Event IsrEvent(std::uint32_t processor, std::int64_t raw, std::uint64_t initial_raw, std::uint64_t routine,
               std::uint8_t vector, std::uint32_t pointer_size) {
    return GroupEvent(processor, raw, PerfinfoForm(pointer_size), kGroupPerfInfo, kOpcodeIsr, kPerfInfoVersion,
                      IsrPayload(initial_raw, routine, 1, vector, pointer_size));
}

}  // namespace dormiscope::etl
