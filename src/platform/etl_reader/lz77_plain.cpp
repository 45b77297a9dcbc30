#include "platform/etl_reader/lz77_plain.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "platform/etl_reader/little_endian.h"

namespace dormiscope {
namespace {

constexpr unsigned kFlagBits = 32;
constexpr std::size_t kMinimumMatch = 3;

class Lz77Decoder {
public:
    Lz77Decoder(std::span<const std::uint8_t> input, std::span<std::uint8_t> output)
        : input_(input), output_(output) {}

    Lz77Status Run() {
        std::uint32_t flags = 0;
        unsigned flags_left = 0;
        for (;;) {
            if (flags_left == 0) {
                if (!Available(4)) {
                    return Lz77Status::kTruncatedInput;
                }
                flags = LoadLittleEndian<std::uint32_t>(&input_[in_]);
                in_ += 4;
                flags_left = kFlagBits;
            }
            // Clear flags ahead are literals: copy the whole run at once.
            const unsigned literals =
                std::min<unsigned>(static_cast<unsigned>(std::countl_zero(flags << (kFlagBits - flags_left))),
                                   flags_left);
            if (literals != 0) {
                const Lz77Status status = CopyLiterals(literals);
                if (status != Lz77Status::kOk) {
                    return status;
                }
                flags_left -= literals;
                continue;
            }
            --flags_left;
            // A match flag with no input left is the end of the stream.
            if (in_ == input_.size()) {
                break;
            }
            const Lz77Status status = CopyMatch();
            if (status != Lz77Status::kOk) {
                return status;
            }
        }
        return out_ == output_.size() ? Lz77Status::kOk : Lz77Status::kOutputIncomplete;
    }

private:
    bool Available(std::size_t count) const { return input_.size() - in_ >= count; }

    // Fails like `count` literals taken one by one: at the first that has no
    // input byte, or else no room.
    Lz77Status CopyLiterals(std::size_t count) {
        const std::size_t input_left = input_.size() - in_;
        const std::size_t copied = std::min(std::min(count, input_left), output_.size() - out_);
        if (copied != 0) {
            std::memcpy(output_.data() + out_, input_.data() + in_, copied);
            in_ += copied;
            out_ += copied;
        }
        if (copied == count) {
            return Lz77Status::kOk;
        }
        return copied == input_left ? Lz77Status::kTruncatedInput : Lz77Status::kOutputOverflow;
    }

    Lz77Status CopyMatch() {
        if (!Available(2)) {
            return Lz77Status::kTruncatedInput;
        }
        const std::uint16_t token = LoadLittleEndian<std::uint16_t>(&input_[in_]);
        in_ += 2;
        const std::size_t distance = (token >> 3) + std::size_t{1};
        std::uint64_t length = token & 7u;
        if (length == 7) {
            const Lz77Status status = ReadLongLength(length);
            if (status != Lz77Status::kOk) {
                return status;
            }
        } else {
            length += kMinimumMatch;
        }
        if (distance > out_) {
            return Lz77Status::kDistanceTooFar;
        }
        if (length > output_.size() - out_) {
            return Lz77Status::kOutputOverflow;
        }
        // A distance shorter than the length repeats the bytes this very copy
        // produces. Those repeat every `distance` bytes, so each chunk is copied
        // from the match's start, never overlapping, twice as long as the last.
        std::uint8_t* const target = output_.data() + out_;
        const std::uint8_t* const source = target - distance;
        const auto total = static_cast<std::size_t>(length);
        for (std::size_t copied = 0; copied < total;) {
            const std::size_t chunk = std::min(total - copied, distance + copied);
            std::memcpy(target + copied, source, chunk);
            copied += chunk;
        }
        out_ += total;
        return Lz77Status::kOk;
    }

    // Length code 7: a nibble (two matches share one byte), then a byte, then
    // 16 and 32 bits, each form escaping to the next with its largest value.
    Lz77Status ReadLongLength(std::uint64_t& length) {
        std::uint32_t nibble = 0;
        if (shared_nibble_byte_ == 0) {
            if (!Available(1)) {
                return Lz77Status::kTruncatedInput;
            }
            shared_nibble_byte_ = in_;
            nibble = input_[in_++] & 0x0Fu;
        } else {
            nibble = input_[shared_nibble_byte_] >> 4;
            shared_nibble_byte_ = 0;
        }
        if (nibble < 15) {
            length = nibble + std::uint64_t{10};
            return Lz77Status::kOk;
        }
        if (!Available(1)) {
            return Lz77Status::kTruncatedInput;
        }
        const std::uint8_t extra = input_[in_++];
        if (extra < 255) {
            length = extra + std::uint64_t{25};
            return Lz77Status::kOk;
        }
        if (!Available(2)) {
            return Lz77Status::kTruncatedInput;
        }
        const std::uint16_t word = LoadLittleEndian<std::uint16_t>(&input_[in_]);
        in_ += 2;
        if (word != 0) {
            length = word + std::uint64_t{kMinimumMatch};
            return Lz77Status::kOk;
        }
        if (!Available(4)) {
            return Lz77Status::kTruncatedInput;
        }
        length = LoadLittleEndian<std::uint32_t>(&input_[in_]) + std::uint64_t{kMinimumMatch};
        in_ += 4;
        return Lz77Status::kOk;
    }

    std::span<const std::uint8_t> input_;
    std::span<std::uint8_t> output_;
    std::size_t in_ = 0;
    std::size_t out_ = 0;
    // Input position of the byte whose high nibble the next long match uses;
    // 0 when there is none (position 0 always holds a flag word).
    std::size_t shared_nibble_byte_ = 0;
};

}  // namespace

Lz77Status DecompressPlainLz77(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
    return Lz77Decoder(input, output).Run();
}

}  // namespace dormiscope
