#include "make_sample/machine.h"

#include <array>
#include <cmath>
#include <set>
#include <string_view>

namespace dormiscope::sample {
namespace {

constexpr std::int64_t kUnitsPerMs = 10'000;

constexpr std::array<std::string_view, 8> kServiceGroups = {
    "netsvcs", "LocalServiceNoNetwork", "LocalSystemNetworkRestricted", "NetworkService",
    "LocalService", "UnistackSvcGroup", "appmodel", "wsappx"};

// Hands out ids that are multiples of 4 and not taken yet.
class IdPool {
public:
    IdPool(std::uint32_t first, std::set<std::uint32_t>& taken) : next_(first), taken_(taken) {}

    std::uint32_t Take() {
        while (taken_.count(next_) != 0) {
            next_ += 4;
        }
        taken_.insert(next_);
        return next_;
    }

private:
    std::uint32_t next_;
    std::set<std::uint32_t>& taken_;
};

std::string CommandLineFor(const std::string& image, std::size_t index) {
    if (image == "svchost.exe") {
        return "C:\\Windows\\system32\\svchost.exe -k " + std::string(kServiceGroups[index % kServiceGroups.size()]) +
               " -p";
    }
    return "C:\\Windows\\system32\\" + image;
}

}  // namespace

Machine BuildMachine(const Scenario& scenario, SampleRandom& random) {
    std::set<std::uint32_t> pids;
    std::set<std::uint32_t> tids;
    for (const ProcessSpec& process : scenario.processes) {
        pids.insert(process.pid);
        for (const ThreadSpec& thread : process.threads) {
            tids.insert(thread.tid);
        }
    }
    for (const LaunchSpec& launch : scenario.launches) {
        pids.insert(launch.process.pid);
    }
    IdPool pid_pool(1100, pids);
    IdPool tid_pool(7000, tids);

    Machine machine;
    for (const ProcessSpec& process : scenario.processes) {
        machine.processes.push_back({.description = process});
    }
    const BackgroundSpec& background = scenario.background;
    for (std::uint32_t i = 0; i < background.count; ++i) {
        MachineProcess process;
        process.description.pid = pid_pool.Take();
        process.description.parent = background.parent;
        process.description.image = background.images[i % background.images.size()];
        process.description.session = i % 3 == 0 ? 1 : 0;
        process.description.command_line = CommandLineFor(process.description.image, i);
        const std::uint32_t threads = random.InRange(background.threads.min, background.threads.max);
        for (std::uint32_t t = 0; t < threads; ++t) {
            ThreadSpec thread;
            thread.tid = tid_pool.Take();
            thread.priority = static_cast<std::int8_t>(random.InRange(7, 10));
            process.description.threads.push_back(thread);
        }
        machine.processes.push_back(std::move(process));
    }
    for (const LaunchSpec& launch : scenario.launches) {
        MachineProcess process{.description = launch.process, .launched = true};
        process.start = std::llround(launch.at_ms * kUnitsPerMs);
        process.end = process.start + std::llround(launch.life_ms * kUnitsPerMs);
        for (std::uint32_t t = 0; t < launch.threads; ++t) {
            ThreadSpec thread;
            thread.tid = tid_pool.Take();
            thread.priority = 8;
            process.description.threads.push_back(thread);
        }
        machine.processes.push_back(std::move(process));
    }
    return machine;
}

}  // namespace dormiscope::sample
