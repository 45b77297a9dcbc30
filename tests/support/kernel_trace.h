// Describes a kernel trace in a few lines — processes, threads and context
// switches at times given in 100-ns units after the trace start — and writes
// it as a real .etl file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"
#include "etl_writer/timer_resolution_events.h"

namespace dormiscope::testing {

class KernelTrace {
public:
    explicit KernelTrace(etl::TraceOptions options = {});

    // Process events of the given version (4 by default) in the kernel's header forms.
    KernelTrace& ProcessRundown(std::uint32_t process_id, const std::string& name, std::uint64_t at = 0);
    KernelTrace& ProcessStart(std::uint32_t process_id, const std::string& name, std::uint64_t at);
    KernelTrace& ProcessEnd(std::uint32_t process_id, const std::string& name, std::uint64_t at);
    KernelTrace& Process(std::uint8_t opcode, std::uint16_t version, const etl::ProcessFields& fields,
                         std::uint64_t at);
    // Thread events of version 3.
    KernelTrace& ThreadRundown(std::uint32_t process_id, std::uint32_t thread_id, std::uint64_t at = 0);
    KernelTrace& ThreadStart(std::uint32_t process_id, std::uint32_t thread_id, std::uint64_t at);
    KernelTrace& ThreadEnd(std::uint32_t process_id, std::uint32_t thread_id, std::uint64_t at);
    KernelTrace& Thread(std::uint8_t opcode, std::uint16_t version, const etl::ThreadFields& fields, std::uint64_t at);
    KernelTrace& ContextSwitch(std::uint64_t at, std::uint32_t new_thread_id, std::uint32_t old_thread_id,
                               std::uint32_t processor = 0);
    // Timer-resolution events of the trace's pointer size: a request (event 63
    // version 1; 0 releases it), and at a rundown an outstanding request
    // (event 97) and its stack (event 110). `PowerEvent` adds any other
    // Kernel-Power id, version or payload.
    KernelTrace& TimerRequest(std::uint32_t process_id, const std::u16string& app_name, std::uint32_t requested,
                              std::uint64_t at);
    KernelTrace& TimerRequestRundown(std::uint32_t process_id, const std::u16string& app_name,
                                     std::uint32_t requested, std::uint64_t at);
    KernelTrace& TimerStackRundown(std::uint32_t process_id, const std::u16string& app_name, std::uint32_t requested,
                                   const std::vector<std::uint64_t>& stack, std::uint64_t at);
    KernelTrace& PowerEvent(std::uint16_t id, std::uint8_t version, std::vector<std::uint8_t> payload,
                            std::uint64_t at, std::uint32_t process_id = 0);
    // Any event, its raw stamp taken from `at`.
    KernelTrace& Add(etl::Event event, std::uint64_t at);

    // Writes the events, each processor's in time order (equal times keep the
    // order they were added in), and returns `file`.
    std::filesystem::path Write(const std::filesystem::path& file) const;

    const etl::TraceOptions& options() const { return options_; }

private:
    struct Timed {
        std::uint64_t at;
        etl::Event event;
    };
    etl::TraceOptions options_;
    std::vector<Timed> events_;
};

}  // namespace dormiscope::testing
