// On the recorded samples, the module maps and the cached-stack matching meet
// data nobody here wrote: nearly every frame of their stacks on sampled
// profile events must fall in a module the trace loaded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <filesystem>
#include <string>
#include <vector>

#include "etw/stack_event_records.h"
#include "platform/kernel_event_classes.h"
#include "support/for_each_event.h"
#include "view/stacks/cached_stacks.h"
#include "view/stacks/module_maps.h"

namespace dormiscope {
namespace {

const std::filesystem::path kSamplesDir = DORMISCOPE_SAMPLES_DIR;

using testing::ForEachEvent;

constexpr std::uint8_t kOpcodeSampledProfile = 46;

struct SampledThread {
    bool sampled = false;
    std::uint32_t thread = 0;
};

// A sampled-profile event names the interrupted thread after the instruction pointer.
SampledThread SampledThreadOf(const EVENT_RECORD& event) {
    const std::size_t pointer_size = (event.EventHeader.Flags & EVENT_HEADER_FLAG_32_BIT_HEADER) != 0 ? 4 : 8;
    SampledThread sampled;
    if (SameGuid(event.EventHeader.ProviderId, kPerfInfoProvider) &&
        event.EventHeader.EventDescriptor.Opcode == kOpcodeSampledProfile && event.UserData != nullptr &&
        event.UserDataLength >= pointer_size + 4) {
        sampled.sampled = true;
        std::memcpy(&sampled.thread, static_cast<const std::uint8_t*>(event.UserData) + pointer_size, 4);
    }
    return sampled;
}

struct Share {
    std::uint64_t frames = 0;
    std::uint64_t resolved = 0;
    std::uint64_t kernel_frames = 0;
    std::uint64_t kernel_resolved = 0;
    std::uint64_t stacks = 0;
};

constexpr std::uint64_t kKernelSpace = 0xFFFF'8000'0000'0000;

double Ratio(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 1.0 : static_cast<double>(part) / static_cast<double>(whole);
}

// The share of all frames each file must reach. The Windows 8 trace profiles
// a 64-bit managed program: a quarter of its user frames lie in code the
// runtime compiled at run time, which no image holds.
double MinimumShare(const std::filesystem::path& file) {
    return file.filename() == "win8-relogger-compressed.etl" ? 0.75 : 0.95;
}

TEST(SampleFrameResolution, AtLeast95PercentOfFramesFallInAModule) {
    if (!std::filesystem::exists(kSamplesDir)) {
        GTEST_SKIP() << "no recorded samples at " << kSamplesDir;
    }
    std::uint64_t files_with_stacks = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSamplesDir)) {
        if (entry.path().extension() != ".etl") {
            continue;
        }
        ModuleMaps maps;
        std::vector<StackEventData> stacks;
        // The kernel logs a stack right after its event, on the same
        // processor: the last other event there, by processor.
        std::unordered_map<std::uint32_t, SampledThread> last_event;
        std::vector<StackEventData> references;
        CachedStacks cached([&](std::uint32_t waiting, const std::vector<std::uint64_t>& frames) {
            StackEventData& stack = stacks.emplace_back(references[waiting]);
            stack.frames = frames;
        });
        ForEachEvent(entry.path(), [&](const EVENT_RECORD& event) {
            const GUID& provider = event.EventHeader.ProviderId;
            if (SameGuid(provider, kImageProvider)) {
                ImageEventData image;
                if (ReadImageProperties(event, image)) {
                    maps.Add(image);
                }
            } else if (SameGuid(provider, kImageIdentityProvider)) {
                ImageIdentityEventData identity;
                if (ReadImageIdentityProperties(event, identity)) {
                    maps.Add(identity);
                }
            } else if (SameGuid(provider, kStackWalkProvider)) {
                StackEventData stack;
                const auto last = last_event.find(event.BufferContext.ProcessorIndex);
                if (!ReadStackProperties(event, stack) ||
                    (stack.opcode != kOpcodeStackKeyDelete && stack.opcode != kOpcodeStackKeyRundown &&
                     (last == last_event.end() || !last->second.sampled || last->second.thread != stack.StackThread))) {
                    return;
                }
                if (stack.opcode == kOpcodeStack) {
                    stacks.push_back(std::move(stack));
                } else if (stack.opcode == kOpcodeStackKeyKernel || stack.opcode == kOpcodeStackKeyUser) {
                    cached.Refer(stack.StackKey, static_cast<std::uint32_t>(references.size()));
                    references.push_back(std::move(stack));
                } else {
                    cached.Define(stack);
                }
                return;
            }
            last_event[event.BufferContext.ProcessorIndex] = SampledThreadOf(event);
        });
        if (stacks.empty()) {
            continue;
        }
        ++files_with_stacks;
        Share share;
        for (const StackEventData& stack : stacks) {
            ++share.stacks;
            for (const std::uint64_t frame : stack.frames) {
                ++share.frames;
                const bool resolved = maps.Resolve(stack.StackProcess, frame, stack.TimeStamp).module != nullptr;
                share.resolved += resolved ? 1 : 0;
                if (frame >= kKernelSpace) {
                    ++share.kernel_frames;
                    share.kernel_resolved += resolved ? 1 : 0;
                }
            }
        }
        const double resolved = Ratio(share.resolved, share.frames);
        const double kernel_resolved = Ratio(share.kernel_resolved, share.kernel_frames);
        std::printf("%s: %llu sampled-profile stacks, %llu frames, %.2f %% in a module (kernel-mode frames: %.2f %%); "
                    "%zu modules, %llu references never defined\n",
                    entry.path().filename().string().c_str(), static_cast<unsigned long long>(share.stacks),
                    static_cast<unsigned long long>(share.frames), 100.0 * resolved, 100.0 * kernel_resolved,
                    maps.module_count(), static_cast<unsigned long long>(cached.undefined_references()));
        EXPECT_GE(resolved, MinimumShare(entry.path())) << entry.path();
        EXPECT_GE(kernel_resolved, 0.95) << entry.path();
    }
    EXPECT_EQ(files_with_stacks, 2U);
}

}  // namespace
}  // namespace dormiscope
