// The trace writer must produce the bytes a Windows logger produces; these
// tests read the written files back with offsets taken from the file format,
// not from the writer.
#include "etl_writer/etl_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "etl_writer/kernel_events.h"
#include "etl_writer/kernel_payloads.h"
#include "etl_writer/lz77_compressor.h"
#include "platform/etl_reader/lz77_plain.h"
#include "support/temporary_directory.h"

namespace dormiscope::etl {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <typename T>
T Get(const std::string& bytes, std::size_t offset) {
    T value{};
    EXPECT_LE(offset + sizeof(T), bytes.size());
    if (offset + sizeof(T) <= bytes.size()) {
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
    }
    return value;
}

template <typename T>
T Get(const Bytes& bytes, std::size_t offset) {
    return Get<T>(std::string(bytes.begin(), bytes.end()), offset);
}

Bytes FromHex(const std::string& hex) {
    Bytes out;
    std::string digits;
    for (char c : hex) {
        if (c != ' ') {
            digits += c;
        }
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// One buffer of a written file, as a reader sees it.
struct WrittenBuffer {
    std::size_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t saved_offset = 0;
    std::uint32_t used = 0;
    std::int64_t sequence = 0;
    std::uint16_t processor = 0;
    std::uint8_t alignment_byte = 0;
    std::uint16_t logger_id = 0;
    std::uint32_t state = 0;
    std::uint16_t flags = 0;
    std::uint16_t type = 0;
    std::vector<std::size_t> event_offsets;  // file offsets of the events
    bool tail_is_fill = true;
};

// Walks the buffers and events of an uncompressed file by the format's rules.
std::vector<WrittenBuffer> WalkBuffers(const std::string& file) {
    std::vector<WrittenBuffer> buffers;
    std::size_t offset = 0;
    while (offset + kBufferHeaderSize <= file.size()) {
        WrittenBuffer buffer;
        buffer.offset = offset;
        buffer.size = Get<std::uint32_t>(file, offset);
        buffer.saved_offset = Get<std::uint32_t>(file, offset + 0x04);
        buffer.sequence = Get<std::int64_t>(file, offset + 0x18);
        buffer.processor = Get<std::uint16_t>(file, offset + 0x28);
        buffer.alignment_byte = Get<std::uint8_t>(file, offset + 0x29);
        buffer.logger_id = Get<std::uint16_t>(file, offset + 0x2A);
        buffer.state = Get<std::uint32_t>(file, offset + 0x2C);
        buffer.used = Get<std::uint32_t>(file, offset + 0x30);
        buffer.flags = Get<std::uint16_t>(file, offset + 0x34);
        buffer.type = Get<std::uint16_t>(file, offset + 0x36);
        if (buffer.size < kBufferHeaderSize || offset + buffer.size > file.size() || buffer.used > buffer.size) {
            ADD_FAILURE() << "damaged buffer at " << offset;
            break;
        }
        std::size_t pos = kBufferHeaderSize;
        while (pos < buffer.used) {
            const auto header_type = Get<std::uint8_t>(file, offset + pos + 2);
            const bool packet_sized = header_type <= 4 || header_type == 0x10 || header_type == 0x11;
            const auto event_size = Get<std::uint16_t>(file, offset + pos + (packet_sized ? 4 : 0));
            EXPECT_EQ(Get<std::uint8_t>(file, offset + pos + 3), 0xC0);
            if (event_size == 0 || pos + event_size > buffer.used) {
                ADD_FAILURE() << "event at " << offset + pos << " runs past the buffer's used bytes";
                break;
            }
            buffer.event_offsets.push_back(offset + pos);
            pos += (event_size + 7u) & ~7u;
        }
        EXPECT_EQ(pos, buffer.used) << "event walk must end at Offset";
        for (std::size_t i = buffer.used; i < buffer.size; ++i) {
            buffer.tail_is_fill = buffer.tail_is_fill && static_cast<std::uint8_t>(file[offset + i]) == 0xFF;
        }
        buffers.push_back(buffer);
        offset += buffer.size;
    }
    EXPECT_EQ(offset, file.size());
    return buffers;
}

Event SystemEvent(std::uint32_t processor, std::int64_t raw, std::size_t payload_size) {
    Event event;
    event.processor = processor;
    event.raw_timestamp = raw;
    event.form = HeaderForm::System64;
    event.group = kGroupThread;
    event.type = 0x02;
    event.version = 3;
    event.pid = 100 + processor;
    event.tid = static_cast<std::uint32_t>(raw);
    event.payload.assign(payload_size, static_cast<std::uint8_t>(raw));
    return event;
}

class EtlWriterTest : public ::testing::Test {
protected:
    std::string Write(const TraceOptions& options, const std::vector<Event>& events) {
        EtlWriter writer(path_, options);
        for (const Event& event : events) {
            writer.Add(event);
        }
        writer.Finish();
        return testing::ReadFile(path_);
    }

    testing::TemporaryDirectory directory_;
    std::filesystem::path path_ = directory_ / "trace.etl";
};

class LogfileHeaderTest : public EtlWriterTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(LogfileHeaderTest, HeaderBufferHoldsTheLogfileHeaderEventAtItsDocumentedOffsets) {
    const std::uint32_t pointer_size = GetParam();
    TraceOptions options;
    options.pointer_size = pointer_size;
    options.clock = Clock::CpuCycles;
    options.perf_freq = 3'579'545;
    options.cpu_speed_mhz = 2993;
    options.processors = 3;
    options.buffer_size = 4096;
    options.events_lost = 7;
    options.build = 7601;
    options.log_file_mode = 0x02000080;
    options.logger_name = u"Kernel";
    options.log_file_name = u"C:\\t.etl";
    options.end_time = options.start_time + 123;
    const std::string file = Write(options, {SystemEvent(2, 2'000'000, 10)});

    const std::vector<WrittenBuffer> buffers = WalkBuffers(file);
    ASSERT_EQ(buffers.size(), 2u);
    const WrittenBuffer& header_buffer = buffers[0];
    EXPECT_EQ(header_buffer.type, 4);
    EXPECT_EQ(header_buffer.sequence, 0);
    EXPECT_EQ(header_buffer.processor, 0);
    EXPECT_EQ(header_buffer.state, 3u);
    EXPECT_EQ(header_buffer.flags, 0x21);
    ASSERT_EQ(header_buffer.event_offsets.size(), 1u);
    EXPECT_TRUE(header_buffer.tail_is_fill);

    const std::size_t event = header_buffer.event_offsets[0];
    const std::size_t logfile_header_size = pointer_size == 8 ? 280 : 272;
    const std::size_t names_size = 2 * (6 + 1) + 2 * (8 + 1);
    EXPECT_EQ(event, 0x48u);
    EXPECT_EQ(Get<std::uint32_t>(file, event), pointer_size == 8 ? 0xC0020002u : 0xC0010002u);
    EXPECT_EQ(Get<std::uint16_t>(file, event + 4), 0x20 + logfile_header_size + names_size);
    EXPECT_EQ(Get<std::uint16_t>(file, event + 6), 0u) << "HookId";
    EXPECT_EQ(Get<std::int64_t>(file, event + 0x10), options.header_raw_timestamp);
    EXPECT_EQ(header_buffer.used, 0x48 + ((0x20 + logfile_header_size + names_size + 7) & ~7u));

    const std::size_t payload = event + 0x20;
    const std::size_t late = pointer_size == 8 ? 0 : 8;  // fields after the name pointers move up
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x00), 4096u);
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x08), 7601u);
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x0C), 3u);
    EXPECT_EQ(Get<std::int64_t>(file, payload + 0x10), options.end_time);
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x18), 156250u);
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x20), 0x02000080u);
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x24), 2u) << "BuffersWritten";
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x2C), pointer_size);
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x30), 7u);
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x34), 2993u);
    EXPECT_EQ(Get<std::int64_t>(file, payload + 0x100 - late), 3'579'545);
    EXPECT_EQ(Get<std::int64_t>(file, payload + 0x108 - late), options.start_time);
    EXPECT_EQ(Get<std::uint32_t>(file, payload + 0x110 - late), 3u) << "clock type";
    const std::size_t names = payload + logfile_header_size;
    EXPECT_EQ(Get<char16_t>(file, names), u'K');
    EXPECT_EQ(Get<char16_t>(file, names + 12), u'\0');
    EXPECT_EQ(Get<char16_t>(file, names + 14), u'C');
    EXPECT_EQ(Get<char16_t>(file, names + 30), u'\0');
}

INSTANTIATE_TEST_SUITE_P(PointerSizes, LogfileHeaderTest, ::testing::Values(4u, 8u));

struct FormCase {
    const char* name;
    HeaderForm form;
    std::size_t header_size;
    std::uint8_t type_byte;
    bool size_first;            // size at +0 (else version at +0, size at +4)
    std::size_t timestamp_at;
    std::ptrdiff_t ids_at;      // thread id, then process id; -1: none
    std::ptrdiff_t provider_at;  // -1: none
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }

class HeaderFormTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(HeaderFormTest, EncodesMarkerSizeIdsStampAndProviderWhereTheFormPutsThem) {
    const FormCase& c = GetParam();
    Event event;
    event.form = c.form;
    event.raw_timestamp = 0x0102030405060708;
    event.group = kGroupThread;
    event.type = 36;
    event.version = 2;
    event.pid = 0x1111;
    event.tid = 0x2222;
    event.level = 4;
    event.provider = {0x3D6FA8D1, 0xFE05, 0x11D0, {0x9D, 0xDA, 0x00, 0xC0, 0x4F, 0xD7, 0xBA, 0x7C}};
    event.payload = {0xAA, 0xBB, 0xCC};
    const Bytes bytes = EncodeEvent(event);

    EXPECT_EQ(HeaderSize(c.form), c.header_size);
    ASSERT_EQ(bytes.size(), c.header_size + 3);
    EXPECT_EQ(bytes[2], c.type_byte);
    EXPECT_EQ(bytes[3], 0xC0);
    if (c.size_first) {
        EXPECT_EQ(Get<std::uint16_t>(bytes, 0), c.header_size + 3);
    } else {
        EXPECT_EQ(Get<std::uint16_t>(bytes, 0), 2u) << "version";
        EXPECT_EQ(Get<std::uint16_t>(bytes, 4), c.header_size + 3);
        EXPECT_EQ(Get<std::uint16_t>(bytes, 6), 0x0524u) << "HookId";
    }
    EXPECT_EQ(Get<std::int64_t>(bytes, c.timestamp_at), event.raw_timestamp);
    if (c.ids_at >= 0) {
        EXPECT_EQ(Get<std::uint32_t>(bytes, static_cast<std::size_t>(c.ids_at)), 0x2222u);
        EXPECT_EQ(Get<std::uint32_t>(bytes, static_cast<std::size_t>(c.ids_at) + 4), 0x1111u);
    }
    if (c.provider_at >= 0) {
        EXPECT_EQ(Get<std::uint32_t>(bytes, static_cast<std::size_t>(c.provider_at)), 0x3D6FA8D1u);
        EXPECT_EQ(bytes[static_cast<std::size_t>(c.provider_at) + 15], 0x7C);
    }
    EXPECT_EQ(bytes[c.header_size], 0xAA);
}

INSTANTIATE_TEST_SUITE_P(
    AllForms, HeaderFormTest,
    ::testing::Values(FormCase{"System32", HeaderForm::System32, 0x20, 0x01, false, 0x10, 0x08, -1},
                      FormCase{"System64", HeaderForm::System64, 0x20, 0x02, false, 0x10, 0x08, -1},
                      FormCase{"Compact32", HeaderForm::Compact32, 0x18, 0x03, false, 0x10, 0x08, -1},
                      FormCase{"Compact64", HeaderForm::Compact64, 0x18, 0x04, false, 0x10, 0x08, -1},
                      FormCase{"Perfinfo32", HeaderForm::Perfinfo32, 0x10, 0x10, false, 0x08, -1, -1},
                      FormCase{"Perfinfo64", HeaderForm::Perfinfo64, 0x10, 0x11, false, 0x08, -1, -1},
                      FormCase{"Full32", HeaderForm::Full32, 0x30, 0x0A, true, 0x10, 0x08, 0x18},
                      FormCase{"Full64", HeaderForm::Full64, 0x30, 0x14, true, 0x10, 0x08, 0x18},
                      FormCase{"Instance32", HeaderForm::Instance32, 0x48, 0x0B, true, 0x10, 0x08, 0x18},
                      FormCase{"Instance64", HeaderForm::Instance64, 0x48, 0x15, true, 0x10, 0x08, 0x18},
                      FormCase{"EventHeader32", HeaderForm::EventHeader32, 0x50, 0x12, true, 0x10, 0x08, 0x18},
                      FormCase{"EventHeader64", HeaderForm::EventHeader64, 0x50, 0x13, true, 0x10, 0x08, 0x18}),
    [](const ::testing::TestParamInfo<FormCase>& info) { return std::string(info.param.name); });

TEST(EventEncodingTest, ClassicAndEventHeaderFormsCarryOpcodeLevelAndVersion) {
    Event event;
    event.type = 36;
    event.level = 4;
    event.version = 2;
    event.event_id = 0x1234;
    event.form = HeaderForm::Full64;
    const Bytes full = EncodeEvent(event);
    EXPECT_EQ(full[4], 36) << "Class.Type";
    EXPECT_EQ(full[5], 4) << "Class.Level";
    EXPECT_EQ(Get<std::uint16_t>(full, 6), 2u) << "Class.Version";

    event.form = HeaderForm::EventHeader64;
    const Bytes modern = EncodeEvent(event);
    EXPECT_EQ(Get<std::uint16_t>(modern, 4), 0u) << "no extended items";
    EXPECT_EQ(Get<std::uint16_t>(modern, 0x28), 0x1234u) << "descriptor Id";
    EXPECT_EQ(modern[0x2A], 2) << "descriptor Version";
    EXPECT_EQ(modern[0x2C], 4) << "descriptor Level";
    EXPECT_EQ(modern[0x2D], 36) << "descriptor Opcode";
}

TEST(EventEncodingTest, RefusesEventsLargerThanTheSizeField) {
    Event event;
    event.form = HeaderForm::Perfinfo64;
    event.payload.assign(0xFFFF - 0x10, 0);
    EXPECT_EQ(EncodeEvent(event).size(), 0xFFFFu);
    event.payload.push_back(0);
    EXPECT_THROW(EncodeEvent(event), std::invalid_argument);
}

TEST_F(EtlWriterTest, FillsPerProcessorBuffersInFlushOrderAndKeepsEachProcessorsEventOrder) {
    TraceOptions options;
    options.processors = 3;
    options.buffer_size = 1024;
    std::vector<Event> events;
    std::map<std::uint32_t, std::vector<std::int64_t>> stamps_in;
    for (std::int64_t i = 0; i < 300; ++i) {
        const auto processor = static_cast<std::uint32_t>(i % 7 == 0 ? 2 : i % 2);
        events.push_back(SystemEvent(processor, 2'000'000 + i, static_cast<std::size_t>(i % 13)));
        stamps_in[processor].push_back(2'000'000 + i);
    }
    const std::string file = Write(options, events);

    const std::vector<WrittenBuffer> buffers = WalkBuffers(file);
    ASSERT_GE(buffers.size(), 4u);
    EXPECT_EQ(Get<std::uint32_t>(file, 0x48 + 0x20 + 0x24), buffers.size()) << "BuffersWritten";
    EXPECT_EQ(file.size(), buffers.size() * 1024);
    std::map<std::uint32_t, std::vector<std::int64_t>> stamps_out;
    std::vector<std::uint16_t> final_processors;
    for (std::size_t i = 1; i < buffers.size(); ++i) {
        const WrittenBuffer& buffer = buffers[i];
        SCOPED_TRACE("buffer " + std::to_string(i));
        EXPECT_EQ(buffer.size, 1024u);
        EXPECT_EQ(buffer.sequence, static_cast<std::int64_t>(i));
        EXPECT_EQ(buffer.type, 0);
        EXPECT_EQ(buffer.state, 3u);
        EXPECT_EQ(buffer.saved_offset, buffer.used);
        EXPECT_EQ(buffer.logger_id, options.logger_id);
        EXPECT_EQ(buffer.used % 8, 0u);
        EXPECT_TRUE(buffer.tail_is_fill);
        EXPECT_EQ(buffer.flags & 0x20, 0x20);
        if (buffer.flags & 0x01) {
            final_processors.push_back(buffer.processor);
        } else {
            EXPECT_TRUE(final_processors.empty()) << "full buffers come before the final flush";
        }
        std::int64_t latest = 0;
        for (std::size_t event : buffer.event_offsets) {
            const auto stamp = Get<std::int64_t>(file, event + 0x10);
            EXPECT_EQ(Get<std::uint32_t>(file, event + 0x0C), 100u + buffer.processor) << "process id";
            stamps_out[buffer.processor].push_back(stamp);
            latest = std::max(latest, stamp);
        }
        EXPECT_EQ(Get<std::int64_t>(file, buffer.offset + 0x10), latest) << "buffer time stamp";
    }
    EXPECT_EQ(stamps_out, stamps_in);
    EXPECT_EQ(final_processors, (std::vector<std::uint16_t>{0, 1, 2}));
}

TEST_F(EtlWriterTest, FlushesABufferExactlyWhenTheNextEventDoesNotFit) {
    TraceOptions options;
    options.processors = 1;
    options.buffer_size = 0x48 + 3 * 200 + 56;  // three 200-byte slots, then 56 bytes left
    std::vector<Event> events;
    for (int i = 0; i < 9; ++i) {
        events.push_back(SystemEvent(0, 2'000'000 + i, 200 - 0x20 - 3));  // 197 bytes, padded to 200
    }
    events.push_back(SystemEvent(0, 2'000'100, 56 - 0x20));  // fills the last buffer exactly
    const std::string file = Write(options, events);

    const std::vector<WrittenBuffer> buffers = WalkBuffers(file);
    ASSERT_EQ(buffers.size(), 4u);
    EXPECT_EQ(buffers[1].event_offsets.size(), 3u);
    EXPECT_EQ(buffers[2].event_offsets.size(), 3u);
    EXPECT_EQ(buffers[3].event_offsets.size(), 4u);
    EXPECT_EQ(buffers[3].used, options.buffer_size) << "a completely full buffer";
    EXPECT_EQ(Get<std::uint16_t>(file, buffers[1].event_offsets[0] + 4), 197u) << "size excludes padding";
}

TEST_F(EtlWriterTest, WithoutProcessorIndexTheContextHoldsNumberAndAlignment) {
    TraceOptions options;
    options.proc_index_flag = false;
    options.logger_id = 0x8001;
    const std::string file = Write(options, {SystemEvent(5, 2'000'000, 4)});

    const std::vector<WrittenBuffer> buffers = WalkBuffers(file);
    ASSERT_EQ(buffers.size(), 2u);
    EXPECT_EQ(buffers[0].flags, 0x01);
    EXPECT_EQ(buffers[1].flags, 0x01);
    EXPECT_EQ(buffers[1].processor & 0xFF, 5);
    EXPECT_EQ(buffers[1].alignment_byte, 8);
    EXPECT_EQ(buffers[1].logger_id, 0x8001);
}

TEST_F(EtlWriterTest, EndTimeIsTheLatestEventUnlessGiven) {
    TraceOptions options;
    options.perf_freq = 3'579'545;
    const std::int64_t last_raw = options.header_raw_timestamp + 3 * 3'579'545 + 1;
    std::string file = Write(options, {SystemEvent(1, last_raw, 0), SystemEvent(0, last_raw - 5, 0)});
    // 3 s and one tick of 1/3579545 s, rounded down to 100 ns.
    EXPECT_EQ(Get<std::int64_t>(file, 0x48 + 0x20 + 0x10), options.start_time + 30'000'002);

    options.end_time = options.start_time + 5;
    file = Write(options, {SystemEvent(1, last_raw, 0)});
    EXPECT_EQ(Get<std::int64_t>(file, 0x48 + 0x20 + 0x10), options.start_time + 5);

    options.end_time = 0;
    file = Write(options, {});
    EXPECT_EQ(Get<std::int64_t>(file, 0x48 + 0x20 + 0x10), options.start_time) << "no events";
    EXPECT_EQ(file.size(), options.buffer_size);
}

TEST_F(EtlWriterTest, RefusesWhatTheFormatCannotHold) {
    TraceOptions options;
    options.buffer_size = 1024;
    EtlWriter writer(path_, options);
    EXPECT_THROW(writer.Add(SystemEvent(8, 2'000'000, 0)), std::invalid_argument) << "processor out of range";
    EXPECT_THROW(writer.Add(SystemEvent(0, 2'000'000, 1024 - 0x48 - 0x20 + 1)), std::invalid_argument);
    writer.Add(SystemEvent(0, 2'000'000, 1024 - 0x48 - 0x20));
    writer.Finish();
    EXPECT_THROW(writer.Add(SystemEvent(0, 2'000'000, 0)), std::logic_error);

    const auto refused = [&](auto change) {
        TraceOptions bad;
        change(bad);
        EXPECT_THROW(EtlWriter(directory_ / "bad.etl", bad), std::invalid_argument);
    };
    refused([](TraceOptions& o) { o.pointer_size = 6; });
    refused([](TraceOptions& o) { o.buffer_size = 4100; });
    refused([](TraceOptions& o) { o.buffer_size = 256; });
    refused([](TraceOptions& o) { o.processors = 0; });
    refused([](TraceOptions& o) {
        o.proc_index_flag = false;
        o.processors = 257;
    });
    refused([](TraceOptions& o) { o.perf_freq = 0; });
    refused([](TraceOptions& o) { o.clock = static_cast<Clock>(9); });
    EXPECT_THROW(EtlWriter(directory_ / "missing" / "x.etl", TraceOptions{}), std::runtime_error);
}

TEST(Lz77CompressorTest, EveryLengthFormAndFlagWordBoundaryDecodesBack) {
    std::mt19937 random(7);
    const auto noise = [&](std::size_t count) {
        Bytes bytes(count);
        for (std::uint8_t& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        return bytes;
    };
    // Runs of a repeated block give matches of the chosen length exactly.
    const auto runs = [&](const std::vector<std::size_t>& lengths) {
        Bytes bytes;
        for (std::size_t length : lengths) {
            const Bytes fresh = noise(8);
            bytes.insert(bytes.end(), fresh.begin(), fresh.end());
            for (std::size_t i = 0; i < length; ++i) {
                bytes.push_back(bytes[bytes.size() - 8]);
            }
        }
        return bytes;
    };
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"empty", {}},
        {"one literal", {0x42}},
        {"one full flag word of literals", noise(32)},
        {"two full flag words of literals", noise(64)},
        {"short matches (3..9)", runs({3, 4, 5, 6, 7, 8, 9})},
        {"nibble lengths, shared pairwise (10..24)", runs({10, 11, 17, 24, 12})},
        {"byte lengths (25..279)", runs({25, 100, 279})},
        {"16-bit lengths", runs({280, 5000, 65538})},
        {"32-bit length", Bytes(70'000, 0)},
        {"matches up to the distance limit", [&] {
             Bytes bytes = noise(8200);
             bytes.insert(bytes.end(), bytes.begin(), bytes.begin() + 4000);
             return bytes;
         }()},
        {"incompressible", noise(20'000)},
    };
    for (const auto& [name, input] : inputs) {
        const Bytes stream = CompressPlainLz77(input);
        Bytes output(input.size());
        EXPECT_EQ(DecompressPlainLz77(stream, output), Lz77Status::kOk) << name;
        EXPECT_EQ(output, input) << name;
    }
    EXPECT_LT(CompressPlainLz77(Bytes(70'000, 0)).size(), 20u);
}

TEST_F(EtlWriterTest, CompressedTraceHoldsTheSameEventsInPlainLz77Buffers) {
    TraceOptions options;
    options.processors = 2;
    options.buffer_size = 4096;
    std::vector<Event> events;
    for (std::int64_t i = 0; i < 400; ++i) {
        events.push_back(CSwitchEvent(static_cast<std::uint32_t>(i % 2), 2'000'000 + i,
                                      static_cast<std::uint32_t>(1000 + i % 5), 0));
    }
    const std::string plain = Write(options, events);
    options.compress = true;
    const std::string compressed = Write(options, events);

    const std::vector<WrittenBuffer> expected = WalkBuffers(plain);
    const std::size_t header_buffer = Get<std::uint32_t>(compressed, 0);
    EXPECT_EQ(header_buffer, Get<std::uint32_t>(compressed, 0x30)) << "header buffer cut to its used size";
    EXPECT_EQ(Get<std::uint16_t>(compressed, 0x34) & 0x40, 0) << "header buffer is never compressed";
    EXPECT_EQ(Get<std::uint32_t>(compressed, 0x48 + 0x20 + 0x24), expected.size()) << "BuffersWritten";
    EXPECT_EQ(Get<std::uint32_t>(compressed, 0x48 + 0x20), 4096u) << "logfile BufferSize stays the nominal one";

    std::size_t offset = header_buffer;
    for (std::size_t i = 1; i < expected.size(); ++i) {
        SCOPED_TRACE("buffer " + std::to_string(i));
        ASSERT_LE(offset + kBufferHeaderSize, compressed.size());
        const auto stored = Get<std::uint32_t>(compressed, offset);
        const auto used = Get<std::uint32_t>(compressed, offset + 0x30);
        EXPECT_EQ(used, expected[i].used);
        EXPECT_EQ(Get<std::uint32_t>(compressed, offset + 0x04), used) << "SavedOffset";
        EXPECT_EQ(Get<std::uint16_t>(compressed, offset + 0x34), expected[i].flags | 0x40);
        EXPECT_EQ(Get<std::uint16_t>(compressed, offset + 0x28), expected[i].processor);
        EXPECT_LT(stored, 4096u / 2) << "context switches compress well";
        ASSERT_LE(offset + stored, compressed.size());
        const auto* begin = reinterpret_cast<const std::uint8_t*>(compressed.data()) + offset;
        Bytes events_bytes(used - kBufferHeaderSize);
        ASSERT_EQ(DecompressPlainLz77({begin + kBufferHeaderSize, stored - kBufferHeaderSize}, events_bytes),
                  Lz77Status::kOk);
        EXPECT_EQ(events_bytes, Bytes(plain.begin() + static_cast<std::ptrdiff_t>(expected[i].offset + 0x48),
                                      plain.begin() + static_cast<std::ptrdiff_t>(expected[i].offset + used)));
        offset += stored;
    }
    EXPECT_EQ(offset, compressed.size());
}

struct ClockCase {
    const char* name;
    Clock clock;
    std::int64_t perf_freq;
    std::uint32_t cpu_mhz;
    std::uint64_t offset;
    std::int64_t raw_after_header;  // raw − header raw, worked out by hand
    std::int64_t back_in_100ns;     // converted back, relative to StartTime
};

void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.name; }

class TraceClockTest : public ::testing::TestWithParam<ClockCase> {};

TEST_P(TraceClockTest, ConvertsOffsetsToRawStampsAndBack) {
    const ClockCase& c = GetParam();
    TraceOptions options;
    options.clock = c.clock;
    options.perf_freq = c.perf_freq;
    options.cpu_speed_mhz = c.cpu_mhz;
    const std::int64_t raw = RawFromOffset(options, c.offset);
    EXPECT_EQ(raw - options.header_raw_timestamp, c.raw_after_header);
    EXPECT_EQ(FileTimeFromRaw(options, raw), options.start_time + c.back_in_100ns);
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, TraceClockTest,
    ::testing::Values(ClockCase{"Qpc10MHz", Clock::QueryPerformanceCounter, 10'000'000, 0, 12'345, 12'345, 12'345},
                      ClockCase{"QpcOddOneSecond", Clock::QueryPerformanceCounter, 3'579'545, 0, 10'000'000,
                                3'579'545, 10'000'000},
                      // 1 unit = 0.358 ticks → 1 tick, which is 2.79 units → 2
                      ClockCase{"QpcOddSlowerThan100ns", Clock::QueryPerformanceCounter, 3'579'545, 0, 1, 1, 2},
                      ClockCase{"Qpc24MHz", Clock::QueryPerformanceCounter, 24'000'000, 0, 7, 17, 7},
                      ClockCase{"SystemTime", Clock::SystemTime, 0, 0, 987'654'321, 987'654'321, 987'654'321},
                      ClockCase{"CpuCycles", Clock::CpuCycles, 0, 2993, 10, 2993, 10},
                      ClockCase{"CpuCyclesAtStart", Clock::CpuCycles, 0, 2993, 0, 0, 0}),
    [](const ::testing::TestParamInfo<ClockCase>& info) { return std::string(info.param.name); });

TEST(TraceClockTest, StampsBeforeTheHeaderEventConvertToEarlierTimes) {
    TraceOptions options;
    options.perf_freq = 3'579'545;
    EXPECT_EQ(FileTimeFromRaw(options, options.header_raw_timestamp - 1), options.start_time - 3);
}

TEST(KernelPayloadTest, ProcessV4MatchesARealWindows10Event) {
    ProcessFields fields;
    fields.UniqueProcessKey = 0xFFFFCA8688B693C0;
    fields.ProcessId = 6780;
    fields.ParentId = 3856;
    fields.SessionId = 1;
    fields.ExitStatus = 0x40010004;
    fields.DirectoryTableBase = 0x26F5A000;
    fields.Flags = 0;
    fields.sid = SidBytes(5, {21, 4151223144u, 1238771585u, 1724997581u, 1000});
    fields.ImageFileName = "SecurityHealthSystray.exe";
    fields.CommandLine = u"\"C:\\Windows\\System32\\SecurityHealthSystray.exe\" ";
    const Bytes payload = ProcessPayload(4, 8, fields);

    ASSERT_EQ(payload.size(), 208u);
    EXPECT_EQ(Get<std::uint64_t>(payload, 0), 0xFFFFCA8688B693C0u);
    EXPECT_EQ(Get<std::uint32_t>(payload, 8), 6780u);
    EXPECT_EQ(Get<std::uint32_t>(payload, 12), 3856u);
    EXPECT_EQ(Get<std::uint32_t>(payload, 16), 1u);
    EXPECT_EQ(Get<std::uint32_t>(payload, 20), 0x40010004u);
    EXPECT_EQ(Get<std::uint64_t>(payload, 24), 0x26F5A000u);
    EXPECT_NE(Get<std::uint64_t>(payload, 36), 0u) << "TOKEN_USER pointer";
    EXPECT_EQ(Bytes(payload.begin() + 52, payload.begin() + 64), FromHex("0105 000000000005 15000000"));
    EXPECT_EQ(Get<std::uint32_t>(payload, 76), 1000u) << "last sub-authority";
    EXPECT_EQ(std::string(payload.begin() + 80, payload.begin() + 105), "SecurityHealthSystray.exe");
    EXPECT_EQ(payload[105], 0);
    EXPECT_EQ(Get<char16_t>(payload, 106), u'"');
    EXPECT_EQ(Get<std::uint32_t>(payload, 204), 0u) << "two empty UTF-16 strings";
}

struct ProcessLayoutCase {
    std::uint16_t version;
    std::uint32_t pointer_size;
    std::size_t sid_at;     // where UserSID starts
    std::size_t strings;    // UTF-16 strings after the image name
    std::size_t trailing;   // bytes after the strings
};

void PrintTo(const ProcessLayoutCase& c, std::ostream* os) {
    *os << "version " << c.version << ", pointer " << c.pointer_size;
}

class ProcessLayoutTest : public ::testing::TestWithParam<ProcessLayoutCase> {};

TEST_P(ProcessLayoutTest, PlacesTheSidAfterTheFixedFieldsAndEndsAfterTheStrings) {
    const ProcessLayoutCase& c = GetParam();
    ProcessFields fields;
    fields.ProcessId = 0x1234;
    fields.ImageFileName = "a.exe";
    fields.CommandLine = u"a";
    fields.PackageFullName = u"p";
    fields.ApplicationId = u"i";
    fields.ExitTime = 0x0102030405060708;
    const Bytes payload = ProcessPayload(c.version, c.pointer_size, fields);
    const std::size_t sid_blob = 2 * c.pointer_size + 12;  // TOKEN_USER + S-1-5-18
    ASSERT_EQ(payload.size(), c.sid_at + sid_blob + 6 + 4 * c.strings + c.trailing);
    Bytes expected_tail = FromHex("0101 000000000005 12000000");  // the SID
    for (char ch : std::string("a.exe")) {
        expected_tail.push_back(static_cast<std::uint8_t>(ch));
    }
    expected_tail.push_back(0);
    const Bytes strings = FromHex("61000000 70000000 69000000");
    expected_tail.insert(expected_tail.end(), strings.begin(),
                         strings.begin() + static_cast<std::ptrdiff_t>(4 * c.strings));
    if (c.trailing != 0) {
        const Bytes exit_time = FromHex("0807060504030201");
        expected_tail.insert(expected_tail.end(), exit_time.begin(), exit_time.end());
    }
    EXPECT_EQ(Bytes(payload.begin() + static_cast<std::ptrdiff_t>(c.sid_at + 2 * c.pointer_size), payload.end()),
              expected_tail);
    const std::size_t pid_at = c.version == 0 ? 0 : c.pointer_size;
    EXPECT_EQ(Get<std::uint32_t>(payload, pid_at), 0x1234u);
}

INSTANTIATE_TEST_SUITE_P(Versions, ProcessLayoutTest,
                         ::testing::Values(ProcessLayoutCase{0, 8, 16, 0, 0}, ProcessLayoutCase{0, 4, 8, 0, 0},
                                           ProcessLayoutCase{1, 8, 24, 0, 0}, ProcessLayoutCase{1, 4, 20, 0, 0},
                                           ProcessLayoutCase{2, 8, 24, 1, 0}, ProcessLayoutCase{2, 4, 20, 1, 0},
                                           ProcessLayoutCase{3, 8, 32, 1, 0}, ProcessLayoutCase{3, 4, 24, 1, 0},
                                           ProcessLayoutCase{4, 8, 36, 3, 0}, ProcessLayoutCase{4, 4, 28, 3, 0},
                                           ProcessLayoutCase{5, 8, 36, 3, 8}, ProcessLayoutCase{5, 4, 28, 3, 8}),
                         [](const ::testing::TestParamInfo<ProcessLayoutCase>& info) {
                             return "V" + std::to_string(info.param.version) + "Pointer" +
                                    std::to_string(info.param.pointer_size);
                         });

TEST(KernelPayloadTest, AnEmptySidIsTheFourByteZeroForm) {
    ProcessFields fields;
    fields.sid.clear();
    fields.ImageFileName = "x";
    const Bytes payload = ProcessPayload(4, 8, fields);
    ASSERT_EQ(payload.size(), 36u + 4 + 2 + 2 * 3);
    EXPECT_EQ(Get<std::uint32_t>(payload, 36), 0u);
    EXPECT_EQ(payload[40], 'x');
}

TEST(KernelPayloadTest, ThreadV3MatchesARealWindows10Event) {
    ThreadFields fields;
    fields.ProcessId = 504;
    fields.TThreadId = 5060;
    fields.StackBase = 0xFFFFF580F6CEB000;
    fields.StackLimit = 0xFFFFF580F6CE4000;
    fields.UserStackBase = 0x000000F144780000;
    fields.UserStackLimit = 0x000000F144772000;
    fields.Affinity = 3;
    fields.Win32StartAddr = 0x00007FF993BB3D60;
    fields.TebBase = 0x000000F14448B000;
    fields.SubProcessTag = 0;
    fields.BasePriority = 13;
    fields.PagePriority = 5;
    fields.IoPriority = 2;
    fields.ThreadFlags = 0;
    EXPECT_EQ(ThreadPayload(3, kOpcodeStart, 8, fields, u""),
              FromHex("f8010000 c4130000 00b0cef680f5ffff 0040cef680f5ffff 00007844f1000000 00207744f1000000 "
                      "0300000000000000 603dbb93f97f0000 00b04844f1000000 00000000 0d 05 02 00 0000"));
}

TEST(KernelPayloadTest, ThreadPayloadSizesFollowTheVersion) {
    struct Case {
        std::uint16_t version;
        std::uint8_t opcode;
        std::uint32_t pointer_size;
        std::size_t size;
    };
    for (const Case& c : {Case{0, 1, 8, 8}, Case{1, 1, 8, 57}, Case{1, 3, 4, 33}, Case{1, 2, 8, 8}, Case{1, 4, 4, 8},
                          Case{2, 1, 8, 68}, Case{2, 2, 4, 40}, Case{3, 3, 8, 72}, Case{3, 4, 4, 44},
                          Case{4, 1, 8, 74}, Case{4, 1, 4, 46}}) {
        EXPECT_EQ(ThreadPayload(c.version, c.opcode, c.pointer_size, ThreadFields{}).size(), c.size)
            << "version " << c.version << " opcode " << int{c.opcode} << " pointer " << c.pointer_size;
    }
    ThreadFields fields;
    fields.TThreadId = 7;
    fields.ProcessId = 9;
    EXPECT_EQ(ThreadPayload(0, 1, 8, fields), FromHex("07000000 09000000")) << "version 0 starts with the thread";
    EXPECT_EQ(ThreadPayload(4, 1, 8, fields, u"Ab").size(), 72u + 6);
    EXPECT_THROW(ThreadPayload(5, 1, 8, fields), std::invalid_argument);
    EXPECT_THROW(ProcessPayload(6, 8, ProcessFields{}), std::invalid_argument);
    EXPECT_THROW(ProcessPayload(4, 2, ProcessFields{}), std::invalid_argument);
}

TEST(KernelPayloadTest, CSwitchMatchesThePublishedVector) {
    CSwitchFields fields;
    fields.NewThreadId = 0x8CC;
    fields.OldThreadId = 0;
    fields.NewThreadPriority = 8;
    fields.OldThreadPriority = 0;
    fields.PreviousCState = 1;
    fields.SpareByte = 0;
    fields.OldThreadWaitReason = 0;
    fields.OldThreadWaitMode = 0;
    fields.OldThreadState = 2;
    fields.OldThreadWaitIdealProcessor = 4;
    fields.NewThreadWaitTime = 1;
    fields.Reserved = 0x34886D87;
    EXPECT_EQ(CSwitchPayload(fields), FromHex("cc080000 00000000 08 00 01 00 00 00 02 04 01000000 876d8834"));
}

TEST(KernelEventTest, ChoosesTheHeaderFormTheKernelUses) {
    const ProcessFields process{.ProcessId = 42, .ImageFileName = "p.exe"};
    EXPECT_EQ(ProcessEvent(0, 5, kOpcodeDCStart, 4, 8, process).form, HeaderForm::Perfinfo64);
    EXPECT_EQ(ProcessEvent(0, 5, kOpcodeDCEnd, 4, 4, process).form, HeaderForm::Perfinfo32);
    EXPECT_EQ(ProcessEvent(0, 5, kOpcodeDefunct, 5, 8, process).form, HeaderForm::Perfinfo64);
    const Event start = ProcessEvent(1, 5, kOpcodeStart, 4, 8, process);
    EXPECT_EQ(start.form, HeaderForm::System64);
    EXPECT_EQ(start.group, kGroupProcess);
    EXPECT_EQ(start.pid, 42u);

    const Event thread = ThreadEvent(2, 6, kOpcodeDCStart, 3, 4, ThreadFields{.ProcessId = 42, .TThreadId = 43});
    EXPECT_EQ(thread.form, HeaderForm::System32);
    EXPECT_EQ(thread.group, kGroupThread);
    EXPECT_EQ(thread.tid, 43u);

    const Event cswitch = CSwitchEvent(3, 7, 43, 0);
    EXPECT_EQ(cswitch.form, HeaderForm::Perfinfo64);
    EXPECT_EQ(cswitch.group, 5);
    EXPECT_EQ(cswitch.type, 36);
    EXPECT_EQ(cswitch.version, 2);
    EXPECT_EQ(cswitch.processor, 3u);
    EXPECT_EQ(Get<std::uint32_t>(cswitch.payload, 0), 43u);
}

}  // namespace
}  // namespace dormiscope::etl
