#include "support/kernel_trace.h"

#include <algorithm>

#include "etl_writer/trace_clock.h"
#include "platform/kernel_power_events.h"

namespace dormiscope::testing {
namespace {

etl::ProcessFields NamedProcess(std::uint32_t process_id, const std::string& name) {
    etl::ProcessFields fields;
    fields.ProcessId = process_id;
    fields.ParentId = 4;
    fields.ImageFileName = name;
    fields.CommandLine = u"C:\\Windows\\";
    for (const char byte : name) {
        fields.CommandLine += static_cast<char16_t>(static_cast<unsigned char>(byte));
    }
    return fields;
}

etl::ThreadFields ThreadOf(std::uint32_t process_id, std::uint32_t thread_id) {
    etl::ThreadFields fields;
    fields.ProcessId = process_id;
    fields.TThreadId = thread_id;
    return fields;
}

}  // namespace

KernelTrace::KernelTrace(etl::TraceOptions options) : options_(std::move(options)) {}

KernelTrace& KernelTrace::Add(etl::Event event, std::uint64_t at) {
    event.raw_timestamp = etl::RawFromOffset(options_, at);
    events_.push_back({at, std::move(event)});
    return *this;
}

KernelTrace& KernelTrace::Process(std::uint8_t opcode, std::uint16_t version, const etl::ProcessFields& fields,
                                  std::uint64_t at) {
    return Add(etl::ProcessEvent(0, 0, opcode, version, options_.pointer_size, fields), at);
}

KernelTrace& KernelTrace::ProcessRundown(std::uint32_t process_id, const std::string& name, std::uint64_t at) {
    return Process(kOpcodeDCStart, 4, NamedProcess(process_id, name), at);
}

KernelTrace& KernelTrace::ProcessStart(std::uint32_t process_id, const std::string& name, std::uint64_t at) {
    return Process(kOpcodeStart, 4, NamedProcess(process_id, name), at);
}

KernelTrace& KernelTrace::ProcessEnd(std::uint32_t process_id, const std::string& name, std::uint64_t at) {
    return Process(kOpcodeEnd, 4, NamedProcess(process_id, name), at);
}

KernelTrace& KernelTrace::Thread(std::uint8_t opcode, std::uint16_t version, const etl::ThreadFields& fields,
                                 std::uint64_t at) {
    return Add(etl::ThreadEvent(0, 0, opcode, version, options_.pointer_size, fields), at);
}

KernelTrace& KernelTrace::ThreadRundown(std::uint32_t process_id, std::uint32_t thread_id, std::uint64_t at) {
    return Thread(kOpcodeDCStart, 3, ThreadOf(process_id, thread_id), at);
}

KernelTrace& KernelTrace::ThreadStart(std::uint32_t process_id, std::uint32_t thread_id, std::uint64_t at) {
    return Thread(kOpcodeStart, 3, ThreadOf(process_id, thread_id), at);
}

KernelTrace& KernelTrace::ThreadEnd(std::uint32_t process_id, std::uint32_t thread_id, std::uint64_t at) {
    return Thread(kOpcodeEnd, 3, ThreadOf(process_id, thread_id), at);
}

KernelTrace& KernelTrace::ContextSwitch(std::uint64_t at, std::uint32_t new_thread_id, std::uint32_t old_thread_id,
                                        std::uint32_t processor) {
    return Add(etl::CSwitchEvent(processor, 0, new_thread_id, old_thread_id), at);
}

KernelTrace& KernelTrace::PowerEvent(std::uint16_t id, std::uint8_t version, std::vector<std::uint8_t> payload,
                                     std::uint64_t at, std::uint32_t process_id) {
    return Add(etl::KernelPowerEvent(0, 0, id, version, process_id, options_.pointer_size, std::move(payload)), at);
}

KernelTrace& KernelTrace::TimerRequest(std::uint32_t process_id, const std::u16string& app_name,
                                       std::uint32_t requested, std::uint64_t at) {
    const etl::TimerRequestFields fields{requested, process_id, app_name, std::nullopt, 0};
    return PowerEvent(kEventTimeResolutionChange, 1, etl::TimeResolutionChangePayload(fields), at, process_id);
}

KernelTrace& KernelTrace::TimerRequestRundown(std::uint32_t process_id, const std::u16string& app_name,
                                              std::uint32_t requested, std::uint64_t at) {
    const etl::TimerRequestFields fields{requested, process_id, app_name, std::nullopt, 0};
    return PowerEvent(kEventTimeResolutionRequestRundown, 0, etl::TimeResolutionRequestRundownPayload(fields), at);
}

KernelTrace& KernelTrace::TimerStackRundown(std::uint32_t process_id, const std::u16string& app_name,
                                            std::uint32_t requested, const std::vector<std::uint64_t>& stack,
                                            std::uint64_t at) {
    const etl::TimerRequestFields fields{requested, process_id, app_name, std::nullopt, 0};
    return PowerEvent(kEventTimerResolutionStackRundown, 0,
                      etl::TimerResolutionStackRundownPayload(fields, {stack, std::nullopt}, options_.pointer_size),
                      at);
}

std::filesystem::path KernelTrace::Write(const std::filesystem::path& file) const {
    std::vector<const Timed*> ordered;
    for (const Timed& timed : events_) {
        ordered.push_back(&timed);
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const Timed* left, const Timed* right) {
        if (left->event.processor != right->event.processor) {
            return left->event.processor < right->event.processor;
        }
        return left->at < right->at;
    });
    etl::EtlWriter writer(file, options_);
    for (const Timed* timed : ordered) {
        writer.Add(timed->event);
    }
    writer.Finish();
    return file;
}

}  // namespace dormiscope::testing
