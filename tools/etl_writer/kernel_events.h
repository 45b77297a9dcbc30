// Whole kernel events in one call, with the header form the kernel uses for
// each: rundown (DCStart/DCEnd) and Defunct process events in the PERFINFO
// form, process Start/End, thread and thread-name events in the SYSTEM form,
// context switches and readies in the PERFINFO form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_payloads.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::etl {

// SYSTEM or PERFINFO form of the given pointer size.
HeaderForm SystemForm(std::uint32_t pointer_size);
HeaderForm PerfinfoForm(std::uint32_t pointer_size);

// An event of a kernel group (classic header) with the given payload.
Event GroupEvent(std::uint32_t processor, std::int64_t raw, HeaderForm form, std::uint8_t group, std::uint8_t type,
                 std::uint16_t version, std::vector<std::uint8_t> payload);

// A Process event (group 3). SYSTEM-form events carry the process's own id and
// thread id 0 in their header; change `pid`/`tid` of the result to mimic a
// creating thread.
Event ProcessEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint16_t version,
                   std::uint32_t pointer_size, const ProcessFields& fields);

// A Thread event (group 5, SYSTEM form) whose header ids are the thread's own.
Event ThreadEvent(std::uint32_t processor, std::int64_t raw, std::uint8_t opcode, std::uint16_t version,
                  std::uint32_t pointer_size, const ThreadFields& fields,
                  const std::optional<std::u16string>& name = std::nullopt);

// A context switch (group 5, type 36, version 2, PERFINFO form).
Event CSwitchEvent(std::uint32_t processor, std::int64_t raw, const CSwitchFields& fields,
                   std::uint32_t pointer_size = 8);
// The same with typical values for everything but the two thread ids.
Event CSwitchEvent(std::uint32_t processor, std::int64_t raw, std::uint32_t new_tid, std::uint32_t old_tid);

// A thread made ready (group 5, type 50, version 2, PERFINFO form: the header
// names no readying thread).
Event ReadyThreadEvent(std::uint32_t processor, std::int64_t raw, const ReadyThreadFields& fields,
                       std::uint32_t pointer_size = 8);

// A thread named by its application (group 5, type 72, version 2, SYSTEM form
// with process id -1 in the header, as the kernel logs it).
Event SetNameEvent(std::uint32_t processor, std::int64_t raw, std::uint32_t process_id, std::uint32_t thread_id,
                   const std::u16string& name, std::uint32_t pointer_size = 8);

}  // namespace dormiscope::etl
