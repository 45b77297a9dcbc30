#include "etl_writer/kernel_events.h"

#include <utility>
#include <vector>

namespace dormiscope::etl {

HeaderForm SystemForm(std::uint32_t pointer_size) {
    return pointer_size == 4 ? HeaderForm::System32 : HeaderForm::System64;
}

HeaderForm PerfinfoForm(std::uint32_t pointer_size) {
    return pointer_size == 4 ? HeaderForm::Perfinfo32 : HeaderForm::Perfinfo64;
}

Event GroupEvent(std::uint32_t processor, std::int64_t raw, HeaderForm form, std::uint8_t group, std::uint8_t type,
                 std::uint16_t version, std::vector<std::uint8_t> payload) {
    Event event;
    event.processor = processor;
    event.raw_timestamp = raw;
    event.form = form;
    event.group = group;
    event.type = type;
    event.version = version;
    event.payload = std::move(payload);
    return event;
}

Event ProcessEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint16_t version,
                   std::uint32_t pointer_size, const ProcessFields& fields) {
    const bool rundown = opcode == kOpcodeDCStart || opcode == kOpcodeDCEnd || opcode == kOpcodeDefunct;
    Event event = GroupEvent(processor, raw, rundown ? PerfinfoForm(pointer_size) : SystemForm(pointer_size),
                             kGroupProcess, opcode, version, ProcessPayload(version, pointer_size, fields));
    event.pid = fields.ProcessId;
    return event;
}

Event ThreadEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint16_t version,
                  std::uint32_t pointer_size, const ThreadFields& fields, const std::optional<std::u16string>& name) {
    Event event = GroupEvent(processor, raw, SystemForm(pointer_size), kGroupThread, opcode, version,
                             ThreadPayload(version, opcode, pointer_size, fields, name));
    event.pid = fields.ProcessId;
    event.tid = fields.TThreadId;
    return event;
}

namespace {

// The context-switch version the writer produces; the readers take 2 to 5.
constexpr std::uint16_t kWrittenCSwitchVersion = 2;

}  // namespace

Event CSwitchEvent(std::uint32_t processor, std::int64_t raw, const CSwitchFields& fields,
                   std::uint32_t pointer_size) {
    return GroupEvent(processor, raw, PerfinfoForm(pointer_size), kGroupThread, kOpcodeCSwitch,
                      kWrittenCSwitchVersion, CSwitchPayload(fields));
}

Event CSwitchEvent(std::uint32_t processor, std::int64_t raw, std::uint32_t new_tid, std::uint32_t old_tid) {
    return CSwitchEvent(processor, raw, CSwitchFields{.NewThreadId = new_tid, .OldThreadId = old_tid});
}

Event ReadyThreadEvent(std::uint32_t processor, std::int64_t raw, const ReadyThreadFields& fields,
                       std::uint32_t pointer_size) {
    return GroupEvent(processor, raw, PerfinfoForm(pointer_size), kGroupThread, kOpcodeReadyThread,
                      kReadyThreadVersion, ReadyThreadPayload(fields));
}

Event SetNameEvent(std::uint32_t processor, std::int64_t raw, std::uint32_t process_id, std::uint32_t thread_id,
                   const std::u16string& name, std::uint32_t pointer_size) {
    Event event = GroupEvent(processor, raw, SystemForm(pointer_size), kGroupThread, kOpcodeSetName,
                             kSetNameVersion, SetNamePayload(process_id, thread_id, name));
    event.pid = 0xFFFFFFFF;
    event.tid = thread_id;
    return event;
}

}  // namespace dormiscope::etl
