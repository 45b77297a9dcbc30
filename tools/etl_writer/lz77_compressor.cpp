#include "etl_writer/lz77_compressor.h"

#include <algorithm>
#include <cstddef>

#include "etl_writer/byte_output.h"

namespace dormiscope::etl {
namespace {

constexpr std::size_t kMinimumMatch = 3;
constexpr std::size_t kMaximumDistance = 8192;  // 13 bits of the token, plus one
constexpr std::size_t kChainDepth = 64;
constexpr std::size_t kHashBits = 15;
constexpr std::size_t kNoPosition = static_cast<std::size_t>(-1);

std::size_t HashAt(std::span<const std::uint8_t> input, std::size_t pos) {
    const std::uint32_t key = input[pos] | (input[pos + 1] << 8) | (input[pos + 2] << 16);
    return (key * 2654435761u) >> (32 - kHashBits);
}

// Emits flag words and the tokens they describe in stream order. A flag
// word's four bytes are reserved before its tokens and filled in once its 32
// flags are known; the next word is reserved right after the 32nd token, so a
// stream whose tokens fill whole words still ends in an all-ones word.
class TokenWriter {
public:
    explicit TokenWriter(Bytes& out) : out_(out) { Reserve(); }

    void Literal(std::uint8_t byte) {
        out_.push_back(byte);
        Flag(false);
    }

    void Match(std::size_t distance, std::size_t length) {
        PutMatch(distance, length);
        Flag(true);
    }

    // Pads the last flag word with ones, which the decoder reads as the end.
    void Finish() {
        const std::uint32_t unused = 32 - flag_count_;
        const std::uint64_t padded = (std::uint64_t{flags_} << unused) | ((std::uint64_t{1} << unused) - 1);
        StoreLE(out_, flag_position_, static_cast<std::uint32_t>(padded));
    }

private:
    // Token: distance − 1 in the high 13 bits, length − 3 (7 = longer) in the
    // low 3; longer lengths continue in a nibble shared by two matches, then a
    // byte, then 16 or 32 bits.
    void PutMatch(std::size_t distance, std::size_t length) {
        const std::size_t code = std::min<std::size_t>(length - kMinimumMatch, 7);
        PutLE(out_, static_cast<std::uint16_t>(((distance - 1) << 3) | code));
        if (code < 7) {
            return;
        }
        const std::size_t beyond_code = length - kMinimumMatch - 7;
        const std::size_t nibble = std::min<std::size_t>(beyond_code, 15);
        if (shared_nibble_ == kNoPosition) {
            shared_nibble_ = out_.size();
            out_.push_back(static_cast<std::uint8_t>(nibble));
        } else {
            out_[shared_nibble_] = static_cast<std::uint8_t>(out_[shared_nibble_] | (nibble << 4));
            shared_nibble_ = kNoPosition;
        }
        if (nibble < 15) {
            return;
        }
        const std::size_t beyond_nibble = beyond_code - 15;
        if (beyond_nibble < 255) {
            out_.push_back(static_cast<std::uint8_t>(beyond_nibble));
            return;
        }
        out_.push_back(255);
        const std::size_t whole = length - kMinimumMatch;
        if (whole <= 0xFFFF) {
            PutLE(out_, static_cast<std::uint16_t>(whole));
        } else {
            PutLE(out_, std::uint16_t{0});
            PutLE(out_, static_cast<std::uint32_t>(whole));
        }
    }

    void Reserve() {
        flag_position_ = out_.size();
        PutZeros(out_, 4);
        flags_ = 0;
        flag_count_ = 0;
    }

    void Flag(bool set) {
        flags_ = (flags_ << 1) | (set ? 1u : 0u);
        if (++flag_count_ == 32) {
            StoreLE(out_, flag_position_, flags_);
            Reserve();
        }
    }

    Bytes& out_;
    std::size_t flag_position_ = 0;
    std::uint32_t flags_ = 0;
    std::uint32_t flag_count_ = 0;
    std::size_t shared_nibble_ = kNoPosition;
};

}  // namespace

std::vector<std::uint8_t> CompressPlainLz77(std::span<const std::uint8_t> input) {
    Bytes out;
    out.reserve(input.size() / 2 + 8);
    TokenWriter writer(out);
    std::vector<std::size_t> head(std::size_t{1} << kHashBits, kNoPosition);
    std::vector<std::size_t> previous(input.size(), kNoPosition);

    auto insert = [&](std::size_t pos) {
        if (pos + kMinimumMatch <= input.size()) {
            const std::size_t hash = HashAt(input, pos);
            previous[pos] = head[hash];
            head[hash] = pos;
        }
    };

    std::size_t pos = 0;
    while (pos < input.size()) {
        std::size_t best_length = 0;
        std::size_t best_distance = 0;
        if (pos + kMinimumMatch <= input.size()) {
            std::size_t candidate = head[HashAt(input, pos)];
            for (std::size_t depth = 0; depth < kChainDepth && candidate != kNoPosition; ++depth) {
                if (pos - candidate > kMaximumDistance) {
                    break;
                }
                std::size_t length = 0;
                while (pos + length < input.size() && input[candidate + length] == input[pos + length]) {
                    ++length;
                }
                if (length > best_length) {
                    best_length = length;
                    best_distance = pos - candidate;
                }
                candidate = previous[candidate];
            }
        }
        if (best_length >= kMinimumMatch) {
            writer.Match(best_distance, best_length);
            for (std::size_t i = 0; i < best_length; ++i) {
                insert(pos + i);
            }
            pos += best_length;
        } else {
            writer.Literal(input[pos]);
            insert(pos);
            ++pos;
        }
    }
    writer.Finish();
    return out;
}

}  // namespace dormiscope::etl
