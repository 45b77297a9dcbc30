// Cuts small seed traces for the trace-reader fuzzer out of real .etl files:
// the header buffer and the first data buffers of each, every uncompressed
// buffer cut after its first events so that seeds stay a few KiB. Written
// traces and single events add the code-event forms the samples lack.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "code_event_seeds.h"
#include "platform/etl_reader/etl_layout.h"

namespace {

using dormiscope::etl::kBufferHeaderSize;
constexpr std::size_t kBuffersPerSeed = 4;
constexpr std::size_t kEventBytesPerBuffer = 1024;

std::uint32_t Load32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, &bytes[offset], 4);
    return value;
}

std::uint16_t Load16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    std::uint16_t value = 0;
    std::memcpy(&value, &bytes[offset], 2);
    return value;
}

// End of the last whole event that starts within the first
// kEventBytesPerBuffer event bytes of the buffer at `offset`.
std::size_t CutUsed(const std::vector<std::uint8_t>& file, std::size_t offset, std::size_t used) {
    std::size_t position = kBufferHeaderSize;
    std::size_t end = kBufferHeaderSize;
    while (position + 8 <= used && position < kBufferHeaderSize + kEventBytesPerBuffer) {
        const std::uint8_t type = file[offset + position + 2];
        const bool packet = type <= 0x04 || type == 0x10 || type == 0x11;
        const std::size_t size = Load16(file, offset + position + (packet ? 4 : 0));
        if (size == 0 || position + size > used) {
            break;
        }
        end = position + size;
        position += (size + 7u) & ~std::size_t{7};
    }
    return end;
}

std::vector<std::uint8_t> CutSeed(const std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> seed;
    std::size_t offset = 0;
    for (std::size_t count = 0; count < kBuffersPerSeed && offset + kBufferHeaderSize <= file.size(); ++count) {
        const std::uint32_t size = Load32(file, offset);
        const std::uint32_t used = Load32(file, offset + dormiscope::etl::kUsedOffset);
        const bool compressed = (Load16(file, offset + dormiscope::etl::kBufferFlagOffset) & dormiscope::etl::kBufferFlagCompressed) != 0;
        if (size < kBufferHeaderSize || size > file.size() - offset) {
            break;
        }
        if (used < kBufferHeaderSize || (!compressed && used > size)) {
            break;
        }
        const std::size_t cut = compressed ? used : CutUsed(file, offset, used);
        const std::size_t kept = compressed ? size : ((cut + 7u) & ~std::size_t{7});
        const std::size_t start = seed.size();
        seed.insert(seed.end(), file.begin() + static_cast<long>(offset),
                    file.begin() + static_cast<long>(offset + std::min(kept, std::size_t{size})));
        seed.resize(start + kept, 0xFF);
        const auto stored = static_cast<std::uint32_t>(kept);
        std::memcpy(&seed[start], &stored, 4);
        if (!compressed) {
            const auto new_used = static_cast<std::uint32_t>(cut);
            std::memcpy(&seed[start + 0x04], &new_used, 4);
            std::memcpy(&seed[start + dormiscope::etl::kUsedOffset], &new_used, 4);
        }
        offset += size;
    }
    return seed;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: fuzz_seed_maker <samples directory> <corpus directory> <record plan corpus directory>\n";
        return 2;
    }
    const std::filesystem::path corpus = argv[2];
    std::filesystem::create_directories(corpus);
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        if (entry.path().extension() != ".etl") {
            continue;
        }
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const std::vector<std::uint8_t> seed = CutSeed(file);
        std::ofstream out(corpus / entry.path().stem().concat(".seed"), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
    }
    dormiscope::fuzz::WriteCodeEventSeeds(corpus, argv[3]);
    return 0;
}
