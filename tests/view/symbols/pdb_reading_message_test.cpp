#include "view/symbols/pdb_reading_message.h"

#include <gtest/gtest.h>

#include <cstring>

#include "function_offset_printer.h"

namespace dormiscope::symbols {
namespace {

PdbReading ReadingWithFunctions() {
    PdbReading reading;
    reading.outcome = PdbReading::Outcome::kRead;
    reading.found.guid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    reading.found.age = 3;
    reading.functions = FunctionTable({{0x1000, 0x1040, "first"}, {0x1040, 0x1040, "empty"}, {0x2000, 0x2100, "last"}},
                                      {{0x1800, 0x3000, "public_one"}, {0x4000, 0x5000, std::string("a\0b", 3)}});
    return reading;
}

std::string WithU32At(std::string message, std::size_t at, std::uint32_t value) {
    std::memcpy(message.data() + at, &value, sizeof value);
    return message;
}

TEST(PdbReadingMessage, ReadingsComeBackAsTheyWere) {
    PdbReading unreadable;
    unreadable.problem = "the public symbol records are damaged";
    PdbReading other;
    other.outcome = PdbReading::Outcome::kOtherIdentity;
    other.found.age = 7;
    other.found.pdb_name = "other.pdb";
    for (const PdbReading& sent : {ReadingWithFunctions(), unreadable, other}) {
        const std::optional<PdbReading> received = DecodePdbReading(EncodePdbReading(sent));
        ASSERT_TRUE(received.has_value());
        EXPECT_EQ(received->outcome, sent.outcome);
        EXPECT_EQ(received->problem, sent.problem);
        EXPECT_EQ(received->found, sent.found);
        EXPECT_EQ(EncodePdbReading(*received), EncodePdbReading(sent));
    }
    const std::optional<PdbReading> received = DecodePdbReading(EncodePdbReading(ReadingWithFunctions()));
    EXPECT_EQ(received->functions.Lookup(0x1004), (FunctionOffset{"first", 4}));
    EXPECT_EQ(received->functions.Lookup(0x4001), (FunctionOffset{std::string("a\0b", 3), 1}));
}

TEST(PdbReadingMessage, RequestsComeBackAsTheyWereAndNeverPassForReadings) {
    const PdbReadingRequest sent{std::string("/symbols/a\0b.pdb", 17), ReadingWithFunctions().found};
    const std::string message = EncodePdbReadingRequest(sent);
    const std::optional<PdbReadingRequest> received = DecodePdbReadingRequest(message);
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(received->source, sent.source);
    EXPECT_EQ(received->wanted, sent.wanted);
    EXPECT_EQ(FrameBodySize(message), message.size() - kFrameHeaderSize);
    EXPECT_FALSE(DecodePdbReading(message).has_value());
    EXPECT_FALSE(DecodePdbReadingRequest(EncodePdbReading(ReadingWithFunctions())).has_value());
    EXPECT_FALSE(DecodePdbReadingRequest(message.substr(0, message.size() - 1)).has_value());
    EXPECT_FALSE(FrameBodySize("PDRX\0\0\0\0\0\0\0\0").has_value());
}

TEST(PdbReadingMessage, EveryCutOrDamagedMessageIsRefused) {
    const std::string message = EncodePdbReading(ReadingWithFunctions());
    for (std::size_t size = 0; size < message.size(); ++size) {
        EXPECT_FALSE(DecodePdbReading(message.substr(0, size)).has_value()) << "cut to " << size;
    }
    // Layout: magic 0, size 4, outcome 12, problem's length 16, GUID 20, age 36,
    // name's length 40, function count 44, then each function: start, end,
    // name's length, name; the public symbols' count and the same for each.
    const std::size_t function_count = 44;
    const std::size_t first_end = 52;
    const std::size_t public_count = 48 + (12 + 5) + (12 + 5) + (12 + 4);
    ASSERT_EQ(std::memcmp(message.data() + public_count, "\x02\0\0\0", 4), 0);
    struct Damage {
        const char* what;
        std::string bytes;
    };
    const Damage cases[] = {
        {"a byte too many", message + '\0'},
        {"another magic", WithU32At(message, 0, 0x4d524451)},
        {"a size beyond the message", WithU32At(message, 4, static_cast<std::uint32_t>(message.size()))},
        {"an outcome only the parent gives", WithU32At(message, 12, 3)},
        {"an unknown outcome", WithU32At(message, 12, 99)},
        {"a problem longer than the message", WithU32At(message, 16, 0xffffffff)},
        {"billions of functions", WithU32At(message, function_count, 0xffffffff)},
        {"one function too few", WithU32At(message, function_count, 2)},
        {"a function ending before it starts", WithU32At(message, first_end, 0xfff)},
        {"billions of public symbols", WithU32At(message, public_count, 0xffffffff)},
        {"a public symbol past its section", WithU32At(message, public_count + 4 + 4, 0x1800)},
    };
    for (const Damage& damage : cases) {
        EXPECT_FALSE(DecodePdbReading(damage.bytes).has_value()) << damage.what;
    }
}

}  // namespace
}  // namespace dormiscope::symbols
