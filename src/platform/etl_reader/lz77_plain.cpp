#include "platform/etl_reader/lz77_plain.h"

#include <cstddef>

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
            --flags_left;
            if ((flags & (std::uint32_t{1} << flags_left)) == 0) {
                if (!Available(1)) {
                    return Lz77Status::kTruncatedInput;
                }
                if (out_ == output_.size()) {
                    return Lz77Status::kOutputOverflow;
                }
                output_[out_++] = input_[in_++];
                continue;
            }
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
        // Byte by byte: a distance shorter than the length repeats bytes this
        // very copy has just produced.
        std::uint8_t* target = &output_[out_];
        const std::uint8_t* source = target - distance;
        for (std::uint64_t index = 0; index < length; ++index) {
            target[index] = source[index];
        }
        out_ += static_cast<std::size_t>(length);
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
