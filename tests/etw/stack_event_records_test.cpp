#include "etw/stack_event_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "etl_writer/code_events.h"
#include "platform/kernel_event_classes.h"
#include "support/for_each_event.h"
#include "support/kernel_trace.h"
#include "support/temporary_directory.h"

namespace dormiscope {
namespace {

using testing::ForEachEvent;
using testing::KernelTrace;
using testing::TemporaryDirectory;

const std::filesystem::path kSamplesDir = DORMISCOPE_SAMPLES_DIR;

bool From(const EVENT_RECORD& event, const GUID& provider) {
    return SameGuid(event.EventHeader.ProviderId, provider);
}

struct ReadBack {
    std::vector<ImageEventData> images;
    std::vector<ImageIdentityEventData> identities;
    std::vector<StackEventData> stacks;
    std::vector<RoutineEventData> routines;
    int unread = 0;
};

ReadBack ReadEverything(const std::filesystem::path& path) {
    ReadBack back;
    ForEachEvent(path, [&](const EVENT_RECORD& event) {
        bool read = true;
        if (From(event, kImageProvider)) {
            read = ReadImageProperties(event, back.images.emplace_back());
        } else if (From(event, kImageIdentityProvider)) {
            read = ReadImageIdentityProperties(event, back.identities.emplace_back());
        } else if (From(event, kStackWalkProvider)) {
            read = ReadStackProperties(event, back.stacks.emplace_back());
        } else if (From(event, kPerfInfoProvider)) {
            read = ReadRoutineProperties(event, back.routines.emplace_back());
        }
        back.unread += read ? 0 : 1;
    });
    return back;
}

// Every field of every new record, with 4-byte pointers widened and 8-byte ones whole.
TEST(StackEventRecords, WrittenEventsReadBackAtBothPointerSizes) {
    TemporaryDirectory directory;
    for (const std::uint32_t pointer_size : {4U, 8U}) {
        SCOPED_TRACE(pointer_size);
        const std::uint64_t base = pointer_size == 4 ? 0x8A10'0000 : 0xFFFF'F801'6AA0'0000;
        etl::TraceOptions options;
        options.pointer_size = pointer_size;
        KernelTrace trace(options);
        etl::ImageFields image{.ImageBase = base, .ImageSize = 0x2'0000, .ProcessId = 612,
                               .ImageCheckSum = 77, .TimeDateStamp = 0x1234, .FileName = u"\\Windows\\a.dll"};
        trace.Add(etl::ImageEvent(0, 0, kOpcodeImageLoad, kImageVersion, pointer_size, image), 100);
        trace.Add(etl::ImageEvent(0, 0, kOpcodeImageDCStart, kImageVersionWin7, pointer_size, image), 101);
        const GUID pdb = {0xEC83D8DF, 0x5559, 0x46E0, {0xB6, 0x30, 0x13, 0x3E, 0xBD, 0x97, 0x92, 0x66}};
        trace.Add(etl::ImageIdentityEvent(1, 0, pointer_size,
                                          {.ImageBase = base, .ProcessId = 612, .PdbGuid = pdb, .Age = 2,
                                           .PdbFileName = "a.pdb"}),
                  102);
        const std::vector<std::uint64_t> frames = {base + 0x10, base + 0x20, 0x7FF0'1234};
        trace.Add(etl::StackEvent(1, 0, 555, 612, 900, frames, pointer_size), 103);
        trace.Add(etl::StackKeyDefinitionEvent(1, 0, kOpcodeStackKeyRundown, base + 0x8, frames, pointer_size), 104);
        trace.Add(etl::StackKeyReferenceEvent(1, 0, kOpcodeStackKeyUser, 556, 612, 901, base + 0x8, pointer_size),
                  105);
        trace.Add(etl::DpcEvent(2, 0, kOpcodeTimerDpc, 90, base + 0x40, pointer_size), 106);
        trace.Add(etl::IsrEvent(2, 0, 95, base + 0x80, 0x91, pointer_size), 107);
        const ReadBack back = ReadEverything(trace.Write(directory / (pointer_size == 4 ? "t4.etl" : "t8.etl")));

        EXPECT_EQ(back.unread, 0);
        ASSERT_EQ(back.images.size(), 2U);
        for (const ImageEventData& read : back.images) {
            EXPECT_EQ(read.ImageBase, base);
            EXPECT_EQ(read.ImageSize, 0x2'0000U);
            EXPECT_EQ(read.ProcessId, 612U);
            EXPECT_EQ(read.ImageCheckSum, 77U);
            EXPECT_EQ(read.TimeDateStamp, 0x1234U);
            EXPECT_EQ(read.FileName, u"\\Windows\\a.dll");
        }
        EXPECT_EQ(back.images[0].opcode, kOpcodeImageLoad);
        ASSERT_EQ(back.identities.size(), 1U);
        EXPECT_EQ(back.identities[0].ImageBase, base);
        EXPECT_EQ(std::memcmp(back.identities[0].PdbGuid.data(), &pdb, sizeof pdb), 0);
        EXPECT_EQ(back.identities[0].Age, 2U);
        EXPECT_EQ(back.identities[0].PdbFileName, "a.pdb");
        ASSERT_EQ(back.stacks.size(), 3U);
        EXPECT_EQ(back.stacks[0].EventTimeStamp, 555U);
        EXPECT_EQ(back.stacks[0].StackProcess, 612U);
        EXPECT_EQ(back.stacks[0].StackThread, 900U);
        EXPECT_EQ(back.stacks[0].frames, frames);
        EXPECT_EQ(back.stacks[1].StackKey, base + 0x8);
        EXPECT_EQ(back.stacks[1].frames, frames);
        EXPECT_EQ(back.stacks[2].opcode, kOpcodeStackKeyUser);
        EXPECT_EQ(back.stacks[2].EventTimeStamp, 556U);
        EXPECT_EQ(back.stacks[2].StackThread, 901U);
        EXPECT_EQ(back.stacks[2].StackKey, base + 0x8);
        EXPECT_TRUE(back.stacks[2].frames.empty());
        ASSERT_EQ(back.routines.size(), 2U);
        EXPECT_EQ(back.routines[0].opcode, kOpcodeTimerDpc);
        EXPECT_EQ(back.routines[0].InitialTime, 90U);
        EXPECT_EQ(back.routines[0].Routine, base + 0x40);
        EXPECT_EQ(back.routines[0].ProcessorNumber, 2U);
        EXPECT_EQ(back.routines[1].opcode, kOpcodeIsr);
        EXPECT_EQ(back.routines[1].Routine, base + 0x80);
        EXPECT_EQ(back.routines[1].Vector, 0x91);
        EXPECT_EQ(back.routines[1].ReturnValue, 1);
    }
}

// One record read into event after event keeps its frames' memory, whichever
// kind of stack event comes next.
TEST(StackEventRecords, ARecordReadIntoAgainKeepsItsFramesMemory) {
    const std::vector<std::uint64_t> frames(40, 0xFFFF'F800'0000'1000);
    KernelTrace trace;
    trace.Add(etl::StackEvent(0, 0, 1, 4, 8, frames), 10);
    trace.Add(etl::StackKeyReferenceEvent(0, 0, kOpcodeStackKeyUser, 2, 4, 8, 0x1234), 11);
    trace.Add(etl::StackEvent(0, 0, 3, 4, 8, frames), 12);
    TemporaryDirectory directory;
    StackEventData record;
    std::vector<const std::uint64_t*> memory;
    ForEachEvent(trace.Write(directory / "t.etl"), [&](const EVENT_RECORD& event) {
        if (From(event, kStackWalkProvider)) {
            ASSERT_TRUE(ReadStackProperties(event, record));
            EXPECT_GE(record.frames.capacity(), frames.size());
            memory.push_back(record.frames.data());
        }
    });
    ASSERT_EQ(memory.size(), 3U);
    EXPECT_EQ(memory[2], memory[0]);
    EXPECT_TRUE(record.frames == frames);
}

struct DamagedStackCase {
    const char* label;
    std::size_t frames;
    std::size_t extra_bytes;  // a partial address after the whole ones
    std::size_t head_bytes;   // the payload cut to this many bytes when not 0
    bool read;
    std::size_t frames_kept;
    StackFrames frames_read;
};

class DamagedStackTest : public ::testing::TestWithParam<DamagedStackCase> {};

TEST_P(DamagedStackTest, KeepsTheWholeAddressesAndSaysWhatWasWrong) {
    const DamagedStackCase& damage = GetParam();
    std::vector<std::uint64_t> frames(damage.frames);
    for (std::size_t index = 0; index < frames.size(); ++index) {
        frames[index] = 0xFFFF'F800'0000'0000 + index;
    }
    etl::Event event = etl::StackEvent(0, 0, 1, 4, 8, frames);
    event.payload.insert(event.payload.end(), damage.extra_bytes, 0xAB);
    if (damage.head_bytes != 0) {
        event.payload.resize(damage.head_bytes);
    }
    TemporaryDirectory directory;
    const ReadBack back = ReadEverything(KernelTrace().Add(event, 10).Write(directory / "t.etl"));
    ASSERT_EQ(back.stacks.size(), 1U);
    EXPECT_EQ(back.unread, damage.read ? 0 : 1);
    EXPECT_EQ(back.stacks[0].frames.size(), damage.frames_kept);
    EXPECT_EQ(back.stacks[0].frames_read, damage.frames_read);
    if (damage.frames_kept != 0) {
        EXPECT_EQ(back.stacks[0].frames.back(), frames[damage.frames_kept - 1]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedStackTest,
    ::testing::Values(DamagedStackCase{"Whole", 3, 0, 0, true, 3, StackFrames::kWhole},
                      DamagedStackCase{"NoAddresses", 0, 0, 0, true, 0, StackFrames::kWhole},
                      DamagedStackCase{"EndsInsideAnAddress", 3, 5, 0, true, 3, StackFrames::kTruncated},
                      DamagedStackCase{"AsManyAsTheKernelWalks", 192, 0, 0, true, 192, StackFrames::kWhole},
                      DamagedStackCase{"MoreThanTheKernelWalks", 200, 0, 0, true, 192, StackFrames::kOversized},
                      DamagedStackCase{"EndsInsideTheIds", 3, 0, 12, false, 0, StackFrames::kWhole}),
    [](const auto& info) { return std::string(info.param.label); });

// Data nobody here wrote: every image event, identity record and stack of the
// recorded samples is read whole.
TEST(StackEventRecords, RecordedSamplesReadEveryImageIdentityAndStackEvent) {
    if (!std::filesystem::exists(kSamplesDir)) {
        GTEST_SKIP() << "no recorded samples at " << kSamplesDir;
    }
    std::size_t images = 0;
    std::size_t identities = 0;
    std::size_t stacks = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSamplesDir)) {
        if (entry.path().extension() != ".etl") {
            continue;
        }
        SCOPED_TRACE(entry.path().filename().string());
        std::size_t bad = 0;
        ForEachEvent(entry.path(), [&](const EVENT_RECORD& event) {
            const std::uint8_t opcode = event.EventHeader.EventDescriptor.Opcode;
            if (From(event, kImageProvider) &&
                (opcode == kOpcodeImageLoad || opcode == kOpcodeImageUnload || opcode == kOpcodeImageDCStart ||
                 opcode == kOpcodeImageDCEnd)) {
                ImageEventData image;
                bad += ReadImageProperties(event, image) && image.ImageSize != 0 && !image.FileName.empty() ? 0 : 1;
                ++images;
            } else if (From(event, kImageIdentityProvider) && opcode == kOpcodeImageDebugRecord) {
                ImageIdentityEventData identity;
                bad += ReadImageIdentityProperties(event, identity) && identity.PdbFileName.ends_with(".pdb") ? 0 : 1;
                ++identities;
            } else if (From(event, kStackWalkProvider)) {
                StackEventData stack;
                bad += ReadStackProperties(event, stack) && stack.frames_read == StackFrames::kWhole ? 0 : 1;
                ++stacks;
            }
        });
        EXPECT_EQ(bad, 0U);
    }
    // What etwdump --summary counts in the four files.
    EXPECT_EQ(images, 13681U + 15347 + 5493 + 3561);
    EXPECT_EQ(identities, 5544U + 3534);
    EXPECT_EQ(stacks, 18532U + 12280);
}

}  // namespace
}  // namespace dormiscope
