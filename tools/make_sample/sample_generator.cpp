#include "make_sample/sample_generator.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "etl_writer/code_events.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"
#include "etl_writer/timer_resolution_events.h"
#include "make_sample/context_switches.h"
#include "make_sample/machine.h"
#include "make_sample/machine_code.h"
#include "make_sample/sample_random.h"
#include "make_sample/switch_code_events.h"
#include "make_sample/time_ordered_events.h"
#include "platform/kernel_power_events.h"

namespace dormiscope::sample {
namespace {

constexpr std::int64_t kUnitsPerMs = 10'000;
constexpr std::int64_t kUnitsPerUs = 10;
constexpr std::uint32_t kPointerSize = 8;
constexpr std::uint16_t kProcessVersion = 4;
constexpr std::uint16_t kThreadVersion = 3;
constexpr std::int32_t kStillActive = 0x103;
constexpr std::int64_t kRundownStart = 5 * kUnitsPerMs;
constexpr std::int64_t kRundownStep = 2 * kUnitsPerUs;  // between two rundown events
constexpr std::int64_t kImageStep = 2;                  // between two image events of a rundown or launch
// Code activity has its own random numbers: the threads' activity stays
// what the scenario's seed makes it.
constexpr std::uint64_t kCodeSeedSalt = 0xC0DE'5EED;
constexpr double kLaunchedThreadRateHz = 40;

std::u16string Widen(const std::string& text) {
    std::u16string wide;
    for (char c : text) {
        wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return wide;
}

etl::ProcessFields ProcessFieldsOf(const ProcessSpec& process) {
    etl::ProcessFields fields;
    fields.UniqueProcessKey = 0xFFFF'B30C'0000'0080 + std::uint64_t{process.pid} * 0x340;
    fields.ProcessId = process.pid;
    fields.ParentId = process.parent;
    fields.SessionId = process.session;
    fields.ExitStatus = kStillActive;
    fields.DirectoryTableBase = 0x0010'0000 + std::uint64_t{process.pid} * 0x2000;
    fields.sid = process.session == 0 ? etl::LocalSystemSid()
                                      : etl::SidBytes(5, {21, 2127521184u, 1604012920u, 1887927527u, 1001});
    fields.ImageFileName = process.image;
    fields.CommandLine = Widen(process.command_line);
    return fields;
}

etl::ThreadFields ThreadFieldsOf(const ProcessSpec& process, const ThreadSpec& thread, std::uint32_t processors) {
    const bool user_thread = process.pid > 4;
    etl::ThreadFields fields;
    fields.ProcessId = process.pid;
    fields.TThreadId = thread.tid;
    fields.StackBase = 0xFFFF'F580'0000'0000 + std::uint64_t{thread.tid} * 0x8000;
    fields.StackLimit = fields.StackBase - 0x6000;
    fields.UserStackBase = user_thread ? 0x0000'00A0'0000'0000 + std::uint64_t{thread.tid} * 0x10'0000 : 0;
    fields.UserStackLimit = user_thread ? fields.UserStackBase - 0x3000 : 0;
    fields.Affinity = processors >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << processors) - 1;
    fields.Win32StartAddr = (user_thread ? 0x0000'7FF9'9300'0000 : 0xFFFF'F803'4000'0000) + thread.tid * 0x40;
    fields.TebBase = user_thread ? 0x0000'00A0'FFF0'0000 + std::uint64_t{thread.tid} * 0x2000 : 0;
    fields.BasePriority = static_cast<std::uint8_t>(thread.priority);
    return fields;
}

// Everything but the context switches and what goes with them (readies,
// stacks, DPCs), and the thread activity that produces them.
class SampleBuilder {
public:
    SampleBuilder(const Scenario& scenario, const Machine& machine, const MachineCode& code, SampleRandom& random)
        : scenario_(scenario), machine_(machine), code_(code), random_(random),
          end_(std::llround(scenario.duration_ms * kUnitsPerMs)) {}

    void Build() {
        std::int64_t time = kRundownStart;
        Rundown(time, kOpcodeDCStart);
        ImageRundown(time, kOpcodeImageDCStart);
        TimerRundown(time);
        activity_start_ = time + kUnitsPerMs;
        std::int64_t closing = end_ - 20 * kUnitsPerMs;
        activity_end_ = closing - kUnitsPerMs;
        PeriodicRuns();
        NoiseRuns();
        Launches();
        // Before the processes' closing rundown, so that the trace ends where it would without images.
        ImageRundown(closing - kUnitsPerMs / 2, kOpcodeImageDCEnd);
        TimerRundown(closing - kUnitsPerMs / 2);
        Rundown(closing, kOpcodeDCEnd);
        std::stable_sort(events_.begin(), events_.end(),
                         [](const TimedEvent& a, const TimedEvent& b) { return a.time < b.time; });
    }

    std::vector<TimedEvent>& events() { return events_; }
    std::vector<Run>& runs() { return runs_; }
    std::map<std::uint32_t, ThreadTraits> Traits() const {
        std::map<std::uint32_t, ThreadTraits> traits;
        for (const MachineProcess& process : machine_.processes) {
            for (const ThreadSpec& thread : process.description.threads) {
                traits[thread.tid] = {thread.priority, process.description.pid == 4};
            }
        }
        return traits;
    }

private:
    void Add(std::int64_t time, std::string kind, etl::Event event) {
        events_.push_back({time, std::move(kind), std::move(event)});
    }

    void AddProcess(std::int64_t time, std::uint32_t cpu, std::uint8_t opcode, const ProcessSpec& process,
                    std::int32_t exit_status) {
        etl::ProcessFields fields = ProcessFieldsOf(process);
        fields.ExitStatus = exit_status;
        Add(time, KindName("Process", opcode),
            etl::ProcessEvent(cpu, 0, opcode, kProcessVersion, kPointerSize, fields));
    }

    etl::Event& AddThread(std::int64_t time, std::uint32_t cpu, std::uint8_t opcode, const ProcessSpec& process,
                          const ThreadSpec& thread) {
        Add(time, KindName("Thread", opcode),
            etl::ThreadEvent(cpu, 0, opcode, kThreadVersion, kPointerSize,
                             ThreadFieldsOf(process, thread, scenario_.processors), Widen(thread.name)));
        return events_.back().event;
    }

    // An image event, with the debug record the relogger adds after a
    // rundown's or a load's.
    void AddImage(std::int64_t time, std::uint32_t cpu, std::uint8_t opcode, const SampleModule& module,
                  std::uint32_t process_id) {
        Add(time, ImageKindName(opcode),
            etl::ImageEvent(cpu, 0, opcode, kImageVersion, kPointerSize, ImageFieldsOf(module, process_id)));
        if (opcode == kOpcodeImageDCStart || opcode == kOpcodeImageLoad) {
            Add(time, "Image DbgID_RSDS",
                etl::ImageIdentityEvent(cpu, 0, kPointerSize, ImageIdentityOf(module, process_id)));
        }
    }

    // The process whose periodic thread wakes faster than the default clock
    // tick asked for a finer one before the recording and holds it to the
    // end: the power manager's rundown names its request, with the stack that
    // made it, at both ends.
    void TimerRundown(std::int64_t time) {
        constexpr double kDefaultPeriodMs = 15.625;
        const MachineProcess* finest = nullptr;
        double finest_period = kDefaultPeriodMs;
        for (const MachineProcess& process : machine_.processes) {
            for (const ThreadSpec& thread : process.description.threads) {
                if (thread.period_ms > 0 && thread.period_ms < finest_period && process.description.pid != 4) {
                    finest = &process;
                    finest_period = thread.period_ms;
                }
            }
        }
        const auto requested = static_cast<std::uint32_t>(std::lround(finest_period * kUnitsPerMs));
        etl::TimerRundownFields machine;
        machine.CurrentPeriod = requested;
        machine.InternalSetPeriod = requested;
        Add(time, "Power SystemTimeResolutionRundown",
            etl::KernelPowerEvent(0, 0, kEventTimeResolutionRundown, 1, 0, kPointerSize,
                                  etl::TimeResolutionRundownPayload(1, machine)));
        if (finest == nullptr) {
            return;
        }
        const ProcessSpec& process = finest->description;
        const std::vector<SampleModule>& modules = code_.ModulesOf(process.pid);
        // The program's path as the power manager logs it, through the volume's device.
        const std::u16string program = modules.empty() ? std::u16string() : modules.front().path.substr(2);
        const etl::TimerRequestFields request{requested, process.pid, u"\\Device\\HarddiskVolume2" + program,
                                              std::nullopt, 0};
        Add(time, "Power SystemTimeResolutionRequestRundown",
            etl::KernelPowerEvent(0, 0, kEventTimeResolutionRequestRundown, 0, 0, kPointerSize,
                                  etl::TimeResolutionRequestRundownPayload(request)));
        Add(time, "Power SystemTimerResolutionStackRundown",
            etl::KernelPowerEvent(0, 0, kEventTimerResolutionStackRundown, 0, 0, kPointerSize,
                                  etl::TimerResolutionStackRundownPayload(
                                      request, {code_.SignalStack(process.threads.front().tid), std::nullopt},
                                      kPointerSize)));
    }

    static std::string KindName(const std::string& group, std::uint8_t opcode) {
        switch (opcode) {
        case kOpcodeStart:
            return group + " Start";
        case kOpcodeEnd:
            return group + " End";
        case kOpcodeDCStart:
            return group + " DCStart";
        default:
            return group + " DCEnd";
        }
    }

    static std::string ImageKindName(std::uint8_t opcode) {
        switch (opcode) {
        case kOpcodeImageLoad:
            return "Image Load";
        case kOpcodeImageUnload:
            return "Image Unload";
        case kOpcodeImageDCStart:
            return "Image DCStart";
        default:
            return "Image DCEnd";
        }
    }

    // The kernel's modules, then each process's, from `time` on; the
    // activity starts and the trace ends where they would without them.
    void ImageRundown(std::int64_t time, std::uint8_t opcode) {
        for (const SampleModule& module : code_.kernel_modules()) {
            AddImage(time, 0, opcode, module, 0);
            time += kImageStep;
        }
        for (const MachineProcess& process : machine_.processes) {
            if (process.launched) {
                continue;
            }
            for (const SampleModule& module : code_.ModulesOf(process.description.pid)) {
                AddImage(time, 0, opcode, module, process.description.pid);
                time += kImageStep;
            }
        }
    }

    // Every process present (not launched), then its threads; the idle
    // process has one idle thread per processor.
    void Rundown(std::int64_t& time, std::uint8_t opcode) {
        for (const MachineProcess& process : machine_.processes) {
            if (process.launched) {
                continue;
            }
            AddProcess(time, 0, opcode, process.description, kStillActive);
            time += kRundownStep;
            if (process.description.pid == 0) {
                for (std::uint32_t cpu = 0; cpu < scenario_.processors; ++cpu) {
                    AddThread(time, 0, opcode, process.description, ThreadSpec{.tid = 0, .priority = 0});
                    time += kRundownStep;
                }
            }
            for (const ThreadSpec& thread : process.description.threads) {
                AddThread(time, 0, opcode, process.description, thread);
                time += kRundownStep;
            }
        }
    }

    void PeriodicRuns() {
        for (const MachineProcess& process : machine_.processes) {
            for (const ThreadSpec& thread : process.description.threads) {
                if (thread.period_ms <= 0) {
                    continue;
                }
                const double period = thread.period_ms * kUnitsPerMs;
                const double jitter = thread.jitter_ms * kUnitsPerMs;
                const double phase = random_.Between(0, period);
                for (double due = static_cast<double>(activity_start_) + phase;
                     due < static_cast<double>(activity_end_); due += period) {
                    const double wake = due + random_.Between(-jitter, jitter);
                    runs_.push_back({std::llround(wake), thread.run_us * kUnitsPerUs, thread.tid, thread.cpu});
                }
            }
        }
    }

    // Wakes `tid` at random between `from` and `to` on any processor.
    void RandomRuns(std::uint32_t tid, std::int64_t from, std::int64_t to, double rate_hz, Range run_us) {
        const double rate_per_unit = rate_hz / 10'000'000.0;
        std::int64_t time = from + std::llround(random_.Exponential(rate_per_unit));
        while (time < to) {
            const std::int64_t duration = random_.InRange(run_us.min, run_us.max) * kUnitsPerUs;
            runs_.push_back({time, duration, tid, static_cast<std::uint32_t>(random_.Below(scenario_.processors))});
            time += std::max<std::int64_t>(duration + kUnitsPerMs, std::llround(random_.Exponential(rate_per_unit)));
        }
    }

    void NoiseRuns() {
        std::vector<std::uint32_t> candidates;
        for (const MachineProcess& process : machine_.processes) {
            for (const ThreadSpec& thread : process.description.threads) {
                if (!process.launched && process.description.pid != 0 && thread.period_ms <= 0) {
                    candidates.push_back(thread.tid);
                }
            }
        }
        for (std::size_t i = 0; i < candidates.size(); ++i) {  // a seeded shuffle
            std::swap(candidates[i], candidates[i + random_.Below(candidates.size() - i)]);
        }
        candidates.resize(std::min<std::size_t>(candidates.size(), scenario_.noise.threads));
        for (std::uint32_t tid : candidates) {
            RandomRuns(tid, activity_start_, activity_end_, scenario_.noise.rate_hz, scenario_.noise.run_us);
        }
    }

    // Process Start, its threads' Start, their activity, their End, Process End.
    void Launches() {
        for (const MachineProcess& process : machine_.processes) {
            if (!process.launched) {
                continue;
            }
            const ProcessSpec& description = process.description;
            const auto cpu = static_cast<std::uint32_t>(random_.Below(scenario_.processors));
            const std::optional<std::uint32_t> creator_thread = FirstThreadOf(description.parent);
            std::int64_t time = process.start;
            AddProcess(time, cpu, kOpcodeStart, description, kStillActive);
            events_.back().event.pid = description.parent;
            events_.back().event.tid = creator_thread.value_or(0);
            const std::vector<SampleModule>& modules = code_.ModulesOf(description.pid);
            for (std::size_t index = 0; index < modules.size(); ++index) {
                AddImage(time + kImageStep * static_cast<std::int64_t>(index + 1), cpu, kOpcodeImageLoad,
                         modules[index], description.pid);
            }
            for (const ThreadSpec& thread : description.threads) {
                time += 50 * kUnitsPerUs;
                etl::Event& start = AddThread(time, cpu, kOpcodeStart, description, thread);
                // The first thread is created by the parent, the others by the first.
                const bool first = &thread == &description.threads.front();
                start.pid = first ? description.parent : description.pid;
                start.tid = first ? creator_thread.value_or(0) : description.threads.front().tid;
            }
            const std::int64_t last_start = time;
            time = process.end - static_cast<std::int64_t>(description.threads.size()) * 100 * kUnitsPerUs;
            for (const ThreadSpec& thread : description.threads) {
                RandomRuns(thread.tid, last_start + kUnitsPerMs, time - kUnitsPerMs, kLaunchedThreadRateHz, {20, 400});
                AddThread(time, cpu, kOpcodeEnd, description, thread);
                time += 100 * kUnitsPerUs;
            }
            // The last thread has gone; the process's modules go before it does.
            for (std::size_t index = 0; index < modules.size(); ++index) {
                AddImage(process.end - kImageStep * static_cast<std::int64_t>(modules.size() - index), cpu,
                         kOpcodeImageUnload, modules[index], description.pid);
            }
            AddProcess(process.end, cpu, kOpcodeEnd, description, 0);
            events_.back().event.tid = description.threads.back().tid;
        }
    }

    std::optional<std::uint32_t> FirstThreadOf(std::uint32_t pid) const {
        for (const MachineProcess& process : machine_.processes) {
            if (process.description.pid == pid && !process.description.threads.empty()) {
                return process.description.threads.front().tid;
            }
        }
        return std::nullopt;
    }

    const Scenario& scenario_;
    const Machine& machine_;
    const MachineCode& code_;
    SampleRandom& random_;
    std::int64_t end_;
    std::int64_t activity_start_ = 0;
    std::int64_t activity_end_ = 0;
    std::vector<TimedEvent> events_;
    std::vector<Run> runs_;
};

}  // namespace

SampleSummary WriteSample(const Scenario& scenario, const std::filesystem::path& output,
                          const std::filesystem::path& program_images) {
    SampleRandom random(scenario.seed);
    const Machine machine = BuildMachine(scenario, random);
    const MachineCode code(machine, program_images);
    SampleBuilder builder(scenario, machine, code, random);
    builder.Build();
    const std::vector<SwitchRecord> switches = ScheduleRuns(std::move(builder.runs()), builder.Traits());

    etl::TraceOptions options;
    options.processors = scenario.processors;
    options.cpu_speed_mhz = 2995;
    options.log_file_name = u"C:\\Windows\\Temp\\idle-machine.etl";
    etl::EtlWriter writer(output, options);
    TimeOrderedEvents out(writer);
    SwitchCodeEvents switch_code(code, machine, scenario.seed ^ kCodeSeedSalt, options);
    // The builder's events are in time order, and so are the switches; what
    // goes with a switch comes at most kLongestLead before it.
    std::vector<TimedEvent>& events = builder.events();
    std::size_t next_event = 0;
    for (const SwitchRecord& record : switches) {
        for (; next_event < events.size() && events[next_event].time <= record.time; ++next_event) {
            out.Add(std::move(events[next_event]));
        }
        switch_code.Add(record, out);
        out.WriteBefore(record.time - SwitchCodeEvents::kLongestLead);
    }
    for (; next_event < events.size(); ++next_event) {
        out.Add(std::move(events[next_event]));
    }
    out.WriteAll();
    writer.Finish();

    SampleSummary summary;
    summary.events_by_kind = out.written_by_kind();
    summary.events = writer.events_written();
    summary.buffers = writer.buffers_written();
    summary.file_size = std::filesystem::file_size(output);
    summary.processes = machine.processes.size();
    for (const MachineProcess& process : machine.processes) {
        summary.threads += process.description.threads.size();
    }
    return summary;
}

}  // namespace dormiscope::sample
