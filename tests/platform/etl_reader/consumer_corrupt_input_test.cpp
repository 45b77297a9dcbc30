// Damaged and foreign files, made from sample bytes or from scratch: the
// consumer refuses them at open or reports them from ProcessTrace, after
// delivering what came before the damage, and never reads out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "consumer_test_support.h"
#include "platform/trace_damage.h"

namespace dormiscope::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kBuffer = 0x10000;   // buffer size of the uncompressed sample
constexpr std::size_t kFirstEvent = 0x48;  // offset of the first event in a buffer

const Bytes& UncompressedSample() {
    static const Bytes bytes = ReadBytes(kSamplesDir / "win10-shutdown-perfdiag.etl");
    return bytes;
}

const Bytes& CompressedSample() {
    static const Bytes bytes = ReadBytes(kSamplesDir / "win8-relogger-compressed.etl");
    return bytes;
}

template <typename T>
void Store(Bytes& bytes, std::size_t offset, T value) {
    std::memcpy(&bytes[offset], &value, sizeof(T));
}

// Where the total size of the event at `offset` is stored, by header form.
std::size_t SizeFieldOf(const Bytes& bytes, std::size_t offset) {
    const std::uint8_t type = bytes[offset + 2];
    const bool packet = type <= 0x04 || type == 0x10 || type == 0x11;
    return offset + (packet ? 4 : 0);
}

// Offset of the second buffer of the compressed sample.
std::size_t SecondCompressedBuffer() {
    std::uint32_t size = 0;
    std::memcpy(&size, CompressedSample().data(), 4);
    return size;
}

struct OpenCase {
    std::string name;
    std::function<Bytes()> make;
};

const OpenCase kRefusedAtOpen[] = {
    {"Empty", [] { return Bytes{}; }},
    {"ShorterThanABufferHeader", [] { return Bytes(UncompressedSample().begin(), UncompressedSample().begin() + 0x47); }},
    {"HeaderBufferCutShort", [] { return Bytes(UncompressedSample().begin(), UncompressedSample().begin() + 0x200); }},
    {"FirstBufferSizeZero", [] { Bytes b = UncompressedSample(); Store<std::uint32_t>(b, 0, 0); return b; }},
    {"FirstBufferSizeBeyondTheFile",
     [] { Bytes b(UncompressedSample().begin(), UncompressedSample().begin() + kBuffer); Store<std::uint32_t>(b, 0, kBuffer + 8); return b; }},
    {"UsedSizeOutsideTheBuffer",
     [] { Bytes b = UncompressedSample(); Store<std::uint32_t>(b, 0x30, 0x20000); Store<std::uint32_t>(b, 0x04, 0x20); return b; }},
    {"FirstEventNotATypedHeader", [] { Bytes b = UncompressedSample(); b[kFirstEvent + 3] = 0x90; return b; }},
    {"FirstEventNotASystemHeader", [] { Bytes b = UncompressedSample(); b[kFirstEvent + 2] = 0x11; return b; }},
    {"FirstEventNotTheLogfileHeader", [] { Bytes b = UncompressedSample(); b[kFirstEvent + 7] = 0x03; return b; }},
    {"HeaderPayloadTooSmall", [] { Bytes b = UncompressedSample(); Store<std::uint16_t>(b, kFirstEvent + 4, 0x20 + 0x117); return b; }},
    {"HeaderEventPastItsBuffer", [] { Bytes b = UncompressedSample(); Store<std::uint32_t>(b, 0x30, 0x100); return b; }},
    {"HeaderBufferCompressed", [] { Bytes b = UncompressedSample(); b[0x34] |= 0x40; return b; }},
    {"RandomBytes",
     [] {
         std::mt19937 random(7);
         Bytes b(3 * kBuffer);
         for (std::uint8_t& byte : b) {
             byte = static_cast<std::uint8_t>(random());
         }
         return b;
     }},
};

class RefusedAtOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(RefusedAtOpenTest, OpenReturnsTheInvalidHandle) {
    TempDirectory directory;
    const auto path = directory / "trace.etl";
    WriteBytes(path, GetParam().make());
    const TraceRun run = ReadTrace(path);
    EXPECT_FALSE(run.opened);
    EXPECT_TRUE(run.events.empty());
}

INSTANTIATE_TEST_SUITE_P(Files, RefusedAtOpenTest, ::testing::ValuesIn(kRefusedAtOpen),
                         [](const ::testing::TestParamInfo<OpenCase>& info) { return info.param.name; });

TEST(RefusedAtOpenTest, MissingFilesAndDirectoriesAreRefused) {
    TempDirectory directory;
    EXPECT_FALSE(ReadTrace(directory / "missing.etl").opened);
    std::filesystem::create_directories(directory / "folder.etl");
    EXPECT_FALSE(ReadTrace(directory / "folder.etl").opened);
}

struct DamageCase {
    std::string name;
    std::function<Bytes()> make;
    ULONG status;
    std::size_t events_before_damage_at_least;
    std::function<std::uint64_t()> damage_offset;
    std::string damage_reason;
};

const DamageCase kDamaged[] = {
    {"TruncatedInsideABuffer",
     [] { return Bytes(UncompressedSample().begin(), UncompressedSample().begin() + 20 * kBuffer + 100); },
     ERROR_FILE_CORRUPT, 100, [] { return 20 * kBuffer; }, "the file ends inside a buffer"},
    {"BufferSizeZero", [] { Bytes b = UncompressedSample(); Store<std::uint32_t>(b, 20 * kBuffer, 0); return b; },
     ERROR_FILE_CORRUPT, 100, [] { return 20 * kBuffer; }, "buffer header"},
    {"BufferSizeBeyondTheFile",
     [] { Bytes b = UncompressedSample(); Store<std::uint32_t>(b, 48 * kBuffer, 2 * kBuffer); return b; },
     ERROR_FILE_CORRUPT, 100, [] { return 48 * kBuffer; }, "the file ends inside a buffer"},
    {"EventSizeZero",
     [] { Bytes b = UncompressedSample(); Store<std::uint16_t>(b, SizeFieldOf(b, 20 * kBuffer + kFirstEvent), 0); return b; },
     ERROR_FILE_CORRUPT, 1, [] { return 20 * kBuffer + kFirstEvent; }, "event size"},
    {"EventPastItsBuffer",
     [] { Bytes b = UncompressedSample(); Store<std::uint16_t>(b, SizeFieldOf(b, 20 * kBuffer + kFirstEvent), 0xFFF8); return b; },
     ERROR_FILE_CORRUPT, 1, [] { return 20 * kBuffer + kFirstEvent; }, "event size"},
    {"CompressedStreamShorterThanItsUsedSize",
     [] {
         Bytes b = CompressedSample();
         const std::size_t buffer = SecondCompressedBuffer();
         std::uint32_t used = 0;
         std::memcpy(&used, &b[buffer + 0x30], 4);
         Store<std::uint32_t>(b, buffer + 0x30, used + 8);
         return b;
     },
     ERROR_FILE_CORRUPT, 1, SecondCompressedBuffer, "LZ77 stream"},
    {"CompressedStreamCutShort",
     [] {
         Bytes b = CompressedSample();
         const std::size_t buffer = SecondCompressedBuffer();
         std::uint32_t size = 0;
         std::memcpy(&size, &b[buffer], 4);
         return Bytes(b.begin(), b.begin() + static_cast<long>(buffer + size / 2));
     },
     ERROR_FILE_CORRUPT, 1, SecondCompressedBuffer, "the file ends inside a buffer"},
    {"UnknownCompressionFormat", [] { Bytes b = CompressedSample(); Store<std::uint32_t>(b, 0x2C, 2); return b; },
     ERROR_BAD_FORMAT, 1, SecondCompressedBuffer, "compressed in an unknown format"},
};

class DamagedTraceTest : public ::testing::TestWithParam<DamageCase> {};

// How many events the sample that `damaged` was made from delivers intact.
std::size_t IntactEventCount(const Bytes& damaged) {
    TempDirectory directory;
    for (const Bytes* sample : {&UncompressedSample(), &CompressedSample()}) {
        if (damaged.size() >= 0x20 && std::equal(damaged.begin(), damaged.begin() + 0x20, sample->begin())) {
            WriteBytes(directory / "intact.etl", *sample);
            return ReadTrace(directory / "intact.etl").events.size();
        }
    }
    return 0;
}

TEST_P(DamagedTraceTest, ProcessTraceDeliversWhatPrecedesTheDamageThenFailsNamingThePlace) {
    const DamageCase& damage = GetParam();
    TempDirectory directory;
    const auto path = directory / "trace.etl";
    const Bytes damaged = damage.make();
    WriteBytes(path, damaged);
    const TraceRun run = ReadTrace(path);
    const std::optional<TraceDamage> found = LastTraceDamage();
    ASSERT_TRUE(run.opened);
    EXPECT_EQ(run.status, damage.status);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->offset, damage.damage_offset());
    EXPECT_NE(found->reason.find(damage.damage_reason), std::string::npos) << found->reason;
    EXPECT_GE(run.events.size(), damage.events_before_damage_at_least);
    EXPECT_LT(run.events.size(), IntactEventCount(damaged));
    for (std::size_t index = 1; index < run.events.size(); ++index) {
        ASSERT_GE(run.events[index].header.TimeStamp.QuadPart, run.events[index - 1].header.TimeStamp.QuadPart);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedTraceTest, ::testing::ValuesIn(kDamaged),
                         [](const ::testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

// A file cut where a buffer ends reads without an error: only the buffers
// read, against the header's count, show that the recording is incomplete.
TEST(CutAtABufferBoundaryTest, ReadsWithoutErrorAndCountsTheBuffersItHolds) {
    TempDirectory directory;
    const auto path = directory / "trace.etl";
    for (const std::size_t buffers : {std::size_t{1}, std::size_t{20}, std::size_t{48}, std::size_t{49}}) {
        WriteBytes(path, Bytes(UncompressedSample().begin(), UncompressedSample().begin() + buffers * kBuffer));
        const TraceRun run = ReadTrace(path);
        ASSERT_TRUE(run.opened) << buffers;
        EXPECT_EQ(run.status, ERROR_SUCCESS) << buffers;
        EXPECT_EQ(run.logfile.BuffersRead, buffers);
        EXPECT_EQ(run.logfile.LogfileHeader.BuffersWritten, 49U);
        EXPECT_FALSE(LastTraceDamage().has_value()) << buffers;
    }
}

// Overwriting bytes anywhere after the header event may change or stop what
// is delivered, but must end in a status, not a crash or a hang.
TEST(DamagedTraceTest, RandomDamageEndsInAStatus) {
    TempDirectory directory;
    std::mt19937 random(11);
    for (const Bytes* sample : {&UncompressedSample(), &CompressedSample()}) {
        for (int round = 0; round < 20; ++round) {
            Bytes bytes = *sample;
            for (int hit = 0; hit < 64; ++hit) {
                const std::size_t offset = 0x400 + random() % (bytes.size() - 0x400);
                bytes[offset] = static_cast<std::uint8_t>(random());
            }
            const auto path = directory / "trace.etl";
            WriteBytes(path, bytes);
            const TraceRun run = ReadTrace(path);
            ASSERT_TRUE(run.opened);
            EXPECT_TRUE(run.status == ERROR_SUCCESS || run.status == ERROR_FILE_CORRUPT) << run.status;
        }
    }
}

}  // namespace
}  // namespace dormiscope::testing
