#include "view/symbols/pdb_reading_message.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace dormiscope::symbols {

namespace {

constexpr std::uint32_t kReadingMagic = 0x4d524450;  // "PDRM"
constexpr std::uint32_t kRequestMagic = 0x51524450;  // "PDRQ"
// The smallest a function or public symbol can be: two offsets and a name's length.
constexpr std::size_t kSmallestEntry = 12;

class Writer {
public:
    void U32(std::uint32_t value) { Bytes(&value, sizeof value); }
    void U64(std::uint64_t value) { Bytes(&value, sizeof value); }
    void Text(std::string_view text) {
        U32(static_cast<std::uint32_t>(text.size()));
        Bytes(text.data(), text.size());
    }
    void Bytes(const void* data, std::size_t size) { bytes_.append(static_cast<const char*>(data), size); }
    void Identity(const PdbIdentity& identity) {
        Bytes(identity.guid.data(), identity.guid.size());
        U32(identity.age);
        Text(identity.pdb_name);
    }
    // The frame, its size filled in.
    std::string Finish() {
        const std::uint64_t size = bytes_.size() - kFrameHeaderSize;
        std::memcpy(bytes_.data() + 4, &size, sizeof size);
        return std::move(bytes_);
    }

private:
    std::string bytes_;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool U32(std::uint32_t& value) { return Bytes(&value, sizeof value); }
    bool U64(std::uint64_t& value) { return Bytes(&value, sizeof value); }
    bool Text(std::string& text) {
        std::uint32_t size = 0;
        if (!U32(size) || size > left()) {
            return false;
        }
        text.assign(bytes_.substr(position_, size));
        position_ += size;
        return true;
    }
    bool Bytes(void* data, std::size_t size) {
        if (size > left()) {
            return false;
        }
        std::memcpy(data, bytes_.data() + position_, size);
        position_ += size;
        return true;
    }
    bool Identity(PdbIdentity& identity) {
        return Bytes(identity.guid.data(), identity.guid.size()) && U32(identity.age) && Text(identity.pdb_name);
    }
    // After the header, once the frame proved whole.
    bool Frame(std::uint32_t magic) {
        std::uint32_t found = 0;
        std::uint64_t size = 0;
        return U32(found) && found == magic && U64(size) && size == left();
    }
    // A count of entries that cannot all fit in what is left is damage; it
    // must not size an allocation.
    bool Count(std::uint32_t& count) { return U32(count) && count <= left() / kSmallestEntry; }
    std::size_t left() const { return bytes_.size() - position_; }

private:
    std::string_view bytes_;
    std::size_t position_ = 0;
};

bool ReadFunctions(Reader& reader, std::vector<FunctionRange>& functions) {
    std::uint32_t count = 0;
    if (!reader.Count(count)) {
        return false;
    }
    functions.resize(count);
    for (FunctionRange& function : functions) {
        if (!reader.U32(function.start) || !reader.U32(function.end) || !reader.Text(function.name) ||
            function.end < function.start) {
            return false;
        }
    }
    return true;
}

bool ReadPublics(Reader& reader, std::vector<PublicSymbol>& publics) {
    std::uint32_t count = 0;
    if (!reader.Count(count)) {
        return false;
    }
    publics.resize(count);
    for (PublicSymbol& symbol : publics) {
        if (!reader.U32(symbol.start) || !reader.U32(symbol.section_end) || !reader.Text(symbol.name) ||
            symbol.section_end <= symbol.start) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::uint64_t> FrameBodySize(std::string_view header) {
    Reader reader(header);
    std::uint32_t magic = 0;
    std::uint64_t size = 0;
    if (!reader.U32(magic) || (magic != kReadingMagic && magic != kRequestMagic) || !reader.U64(size)) {
        return std::nullopt;
    }
    return size;
}

std::string EncodePdbReadingRequest(const PdbReadingRequest& request) {
    Writer writer;
    writer.U32(kRequestMagic);
    writer.U64(0);
    writer.Text(request.source);
    writer.Identity(request.wanted);
    return writer.Finish();
}

std::optional<PdbReadingRequest> DecodePdbReadingRequest(std::string_view message) {
    Reader reader(message);
    PdbReadingRequest request;
    if (!reader.Frame(kRequestMagic) || !reader.Text(request.source) || !reader.Identity(request.wanted) ||
        reader.left() != 0) {
        return std::nullopt;
    }
    return request;
}

std::string EncodePdbReading(const PdbReading& reading) {
    Writer writer;
    writer.U32(kReadingMagic);
    writer.U64(0);
    writer.U32(static_cast<std::uint32_t>(reading.outcome));
    writer.Text(reading.problem);
    writer.Identity(reading.found);
    writer.U32(static_cast<std::uint32_t>(reading.functions.functions().size()));
    for (const FunctionRange& function : reading.functions.functions()) {
        writer.U32(function.start);
        writer.U32(function.end);
        writer.Text(function.name);
    }
    writer.U32(static_cast<std::uint32_t>(reading.functions.publics().size()));
    for (const PublicSymbol& symbol : reading.functions.publics()) {
        writer.U32(symbol.start);
        writer.U32(symbol.section_end);
        writer.Text(symbol.name);
    }
    return writer.Finish();
}

std::optional<PdbReading> DecodePdbReading(std::string_view message) {
    Reader reader(message);
    PdbReading reading;
    std::uint32_t outcome = 0;
    if (!reader.Frame(kReadingMagic) || !reader.U32(outcome) ||
        outcome > static_cast<std::uint32_t>(PdbReading::Outcome::kUnreadable)) {
        return std::nullopt;
    }
    reading.outcome = static_cast<PdbReading::Outcome>(outcome);
    std::vector<FunctionRange> functions;
    std::vector<PublicSymbol> publics;
    if (!reader.Text(reading.problem) || !reader.Identity(reading.found) || !ReadFunctions(reader, functions) ||
        !ReadPublics(reader, publics) || reader.left() != 0) {
        return std::nullopt;
    }
    reading.functions = FunctionTable(std::move(functions), std::move(publics));
    return reading;
}

}  // namespace dormiscope::symbols
