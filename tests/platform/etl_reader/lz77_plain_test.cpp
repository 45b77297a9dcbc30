// The Plain LZ77 decoder against streams built token by token here, and
// against every compressed buffer of the real compressed sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "consumer_test_support.h"
#include "platform/etl_reader/lz77_plain.h"

namespace dormiscope::testing {
namespace {

// Writes a Plain LZ77 stream the way the format lays it out: a 32-bit flag
// word before every 32 tokens (most significant bit first), long match
// lengths as a shared nibble, then a byte, then 16 and 32 bits. Keeps the
// bytes the stream stands for alongside.
class StreamBuilder {
public:
    StreamBuilder& Literals(const std::string& text) {
        for (const char character : text) {
            NextFlag(false);
            stream_.push_back(static_cast<std::uint8_t>(character));
            expected_.push_back(static_cast<std::uint8_t>(character));
        }
        return *this;
    }

    StreamBuilder& Match(std::size_t distance, std::size_t length) {
        NextFlag(true);
        const std::size_t code = length - 3 < 7 ? length - 3 : 7;
        Append16(static_cast<std::uint16_t>(((distance - 1) << 3) | code));
        if (code == 7) {
            const std::size_t nibble = length - 10 < 15 ? length - 10 : 15;
            if (nibble_byte_ != 0) {
                stream_[nibble_byte_] = static_cast<std::uint8_t>(stream_[nibble_byte_] | (nibble << 4));
                nibble_byte_ = 0;
            } else {
                nibble_byte_ = stream_.size();
                stream_.push_back(static_cast<std::uint8_t>(nibble));
            }
            if (nibble == 15) {
                if (length - 25 < 255) {
                    stream_.push_back(static_cast<std::uint8_t>(length - 25));
                } else {
                    stream_.push_back(255);
                    if (length - 3 <= 0xFFFF) {
                        Append16(static_cast<std::uint16_t>(length - 3));
                    } else {
                        Append16(0);
                        const auto wide = static_cast<std::uint32_t>(length - 3);
                        stream_.insert(stream_.end(), {static_cast<std::uint8_t>(wide), static_cast<std::uint8_t>(wide >> 8),
                                                       static_cast<std::uint8_t>(wide >> 16),
                                                       static_cast<std::uint8_t>(wide >> 24)});
                    }
                }
            }
        }
        for (std::size_t index = 0; index < length; ++index) {
            // A distance past the start stands for nothing; such streams are refused.
            expected_.push_back(distance <= expected_.size() ? expected_[expected_.size() - distance] : 0);
        }
        return *this;
    }

    // Ends the stream: the unused flag bits are set, so the next match flag
    // finds no input.
    std::vector<std::uint8_t> Finish() {
        if (flags_used_ == 32) {
            flag_word_ = stream_.size();
            stream_.insert(stream_.end(), 4, 0);
            flags_used_ = 0;
        }
        WriteFlags(flags_ | ((std::uint32_t{1} << (32 - flags_used_)) - 1));
        return stream_;
    }

    const std::vector<std::uint8_t>& expected() const { return expected_; }

private:
    void NextFlag(bool set) {
        if (flags_used_ == 32 || stream_.empty()) {
            if (!stream_.empty()) {
                WriteFlags(flags_);
            }
            flag_word_ = stream_.size();
            stream_.insert(stream_.end(), 4, 0);
            flags_ = 0;
            flags_used_ = 0;
        }
        if (set) {
            flags_ |= std::uint32_t{1} << (31 - flags_used_);
        }
        ++flags_used_;
    }
    void WriteFlags(std::uint32_t flags) { std::memcpy(&stream_[flag_word_], &flags, 4); }
    void Append16(std::uint16_t value) {
        stream_.push_back(static_cast<std::uint8_t>(value));
        stream_.push_back(static_cast<std::uint8_t>(value >> 8));
    }

    std::vector<std::uint8_t> stream_;
    std::vector<std::uint8_t> expected_;
    std::size_t flag_word_ = 0;
    std::uint32_t flags_ = 0;
    unsigned flags_used_ = 0;
    std::size_t nibble_byte_ = 0;
};

Lz77Status Decode(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& output) {
    return DecompressPlainLz77(stream, output);
}

TEST(PlainLz77Test, DecodesEveryLengthFormAndOverlappingCopies) {
    StreamBuilder builder;
    builder.Literals("abcdefghij")
        .Literals(std::string(20, 'q') + "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ")  // a run across flag words
        .Match(10, 3)        // shortest
        .Match(7, 9)         // longest in the token
        .Match(2, 10)        // nibble 0, overlapping
        .Match(1, 24)        // nibble 14, shares the byte of the previous nibble
        .Match(5, 25)        // byte 0
        .Match(40, 279)      // byte 254
        .Match(3, 280)       // 16-bit form
        .Match(1, 65'538)    // largest 16-bit form
        .Match(300, 70'000)  // 32-bit form
        .Literals("xyz");
    // More than 32 tokens, so that several flag words are needed.
    for (int index = 0; index < 40; ++index) {
        builder.Literals("k").Match(1 + index, 3 + index % 20);
    }
    const std::vector<std::uint8_t> stream = builder.Finish();
    std::vector<std::uint8_t> output(builder.expected().size());
    ASSERT_EQ(Decode(stream, output), Lz77Status::kOk);
    EXPECT_EQ(output, builder.expected());
}

TEST(PlainLz77Test, RefusesStreamsThatDoNotFitTheirOutput) {
    StreamBuilder builder;
    builder.Literals("abcd").Match(4, 40);
    const std::vector<std::uint8_t> stream = builder.Finish();
    const std::size_t exact = builder.expected().size();

    std::vector<std::uint8_t> short_output(exact - 1);
    EXPECT_EQ(Decode(stream, short_output), Lz77Status::kOutputOverflow);
    std::vector<std::uint8_t> literal_room(2);
    EXPECT_EQ(Decode(stream, literal_room), Lz77Status::kOutputOverflow);
    std::vector<std::uint8_t> long_output(exact + 1);
    EXPECT_EQ(Decode(stream, long_output), Lz77Status::kOutputIncomplete);
}

TEST(PlainLz77Test, EndsARunOfLiteralsWhereTheInputOrTheRoomEnds) {
    StreamBuilder builder;
    builder.Literals("abcdefgh");
    const std::vector<std::uint8_t> stream = builder.Finish();  // flag word, then the 8 literals
    struct Case {
        std::size_t kept;
        std::size_t room;
        Lz77Status status;
    };
    for (const Case& test : {Case{12, 8, Lz77Status::kOk}, Case{12, 5, Lz77Status::kOutputOverflow},
                             Case{9, 8, Lz77Status::kTruncatedInput}, Case{9, 5, Lz77Status::kTruncatedInput},
                             Case{9, 3, Lz77Status::kOutputOverflow}, Case{4, 8, Lz77Status::kTruncatedInput}}) {
        std::vector<std::uint8_t> output(test.room);
        const std::vector<std::uint8_t> kept(stream.begin(), stream.begin() + static_cast<long>(test.kept));
        EXPECT_EQ(Decode(kept, output), test.status) << test.kept << " bytes kept, room for " << test.room;
        const std::size_t written = std::min(test.room, test.kept - 4);
        EXPECT_TRUE(std::equal(output.begin(), output.begin() + static_cast<long>(written), stream.begin() + 4))
            << test.kept << " bytes kept, room for " << test.room;
    }
}

TEST(PlainLz77Test, RefusesADistanceBeforeTheFirstByte) {
    StreamBuilder builder;
    builder.Literals("ab").Match(3, 3);
    std::vector<std::uint8_t> output(5);
    EXPECT_EQ(Decode(builder.Finish(), output), Lz77Status::kDistanceTooFar);
}

TEST(PlainLz77Test, RefusesEveryTruncationInsideAToken) {
    // flag word (4), literal (1), token (2), nibble (1), byte (1), 16-bit length (2)
    StreamBuilder builder;
    builder.Literals("a").Match(1, 300);
    const std::vector<std::uint8_t> stream = builder.Finish();
    ASSERT_EQ(stream.size(), 11u);
    for (const std::size_t kept : {2u, 4u, 6u, 7u, 8u, 9u, 10u}) {
        std::vector<std::uint8_t> output(builder.expected().size());
        const std::vector<std::uint8_t> truncated(stream.begin(), stream.begin() + static_cast<long>(kept));
        EXPECT_EQ(Decode(truncated, output), Lz77Status::kTruncatedInput) << kept << " bytes kept";
    }
    // Cut between tokens the stream just ends early.
    std::vector<std::uint8_t> output(builder.expected().size());
    EXPECT_EQ(Decode({stream.begin(), stream.begin() + 5}, output), Lz77Status::kOutputIncomplete);
}

TEST(PlainLz77Test, DecodesEveryBufferOfTheCompressedSample) {
    const std::vector<std::uint8_t> file = ReadBytes(kSamplesDir / "win8-relogger-compressed.etl");
    ASSERT_FALSE(file.empty());
    std::size_t compressed = 0;
    for (std::size_t offset = 0; offset + 0x48 <= file.size();) {
        std::uint32_t size = 0;
        std::uint32_t used = 0;
        std::uint16_t flags = 0;
        std::memcpy(&size, &file[offset], 4);
        std::memcpy(&used, &file[offset + 0x30], 4);
        std::memcpy(&flags, &file[offset + 0x34], 2);
        ASSERT_GE(size, 0x48u);
        if ((flags & 0x40) != 0) {
            ++compressed;
            const std::vector<std::uint8_t> stream(file.begin() + static_cast<long>(offset + 0x48),
                                                   file.begin() + static_cast<long>(offset + size));
            std::vector<std::uint8_t> output(used - 0x48);
            ASSERT_EQ(Decode(stream, output), Lz77Status::kOk) << "buffer at " << offset;
            EXPECT_EQ(output[3], 0xC0) << "buffer at " << offset;
        }
        offset += size;
    }
    EXPECT_EQ(compressed, 359u);
}

}  // namespace
}  // namespace dormiscope::testing
