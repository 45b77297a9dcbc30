#include "view/symbols/pdb_reader.h"

#include <algorithm>
#include <cstring>

#include "llvm/DebugInfo/CodeView/SymbolDeserializer.h"
#include "llvm/DebugInfo/CodeView/SymbolRecord.h"
#include "llvm/DebugInfo/MSF/MappedBlockStream.h"
#include "llvm/DebugInfo/PDB/Native/DbiModuleDescriptor.h"
#include "llvm/DebugInfo/PDB/Native/DbiModuleList.h"
#include "llvm/DebugInfo/PDB/Native/DbiStream.h"
#include "llvm/DebugInfo/PDB/Native/InfoStream.h"
#include "llvm/DebugInfo/PDB/Native/ModuleDebugStream.h"
#include "llvm/DebugInfo/PDB/Native/PDBFile.h"
#include "llvm/DebugInfo/PDB/Native/RawConstants.h"
#include "llvm/DebugInfo/PDB/Native/SymbolStream.h"
#include "llvm/Object/COFF.h"
#include "llvm/Support/Allocator.h"
#include "llvm/Support/BinaryByteStream.h"
#include "llvm/Support/BinaryStreamReader.h"
#include "llvm/Support/Error.h"
#include "llvm/Support/MemoryBuffer.h"
#include "view/symbols/public_symbol_name.h"

namespace dormiscope::symbols {

namespace {

namespace cv = llvm::codeview;
namespace pdb = llvm::pdb;

struct Section {
    std::uint32_t start;
    std::uint32_t end;
};

PdbReading Unreadable(std::string problem) {
    PdbReading reading;
    reading.problem = std::move(problem);
    return reading;
}

llvm::Error Damaged(const char* what) {
    return llvm::createStringError(llvm::inconvertibleErrorCode(), "%s are damaged", what);
}

std::string Message(llvm::Error error) {
    return llvm::toString(std::move(error));
}

// Read through a checking reader: the array's own iterator assumes every
// header it counts can be read, which a damaged stream breaks.
llvm::Expected<std::vector<Section>> ReadSections(const pdb::DbiStream& dbi) {
    std::vector<Section> sections;
    llvm::BinaryStreamReader reader(dbi.getSectionHeaders().getUnderlyingStream());
    while (!reader.empty()) {
        const llvm::object::coff_section* header = nullptr;
        if (llvm::Error error = reader.readObject(header)) {
            return error;
        }
        const std::uint32_t start = header->VirtualAddress;
        const std::uint32_t size = std::max<std::uint32_t>(header->VirtualSize, header->SizeOfRawData);
        sections.push_back({start, size > UINT32_MAX - start ? UINT32_MAX : start + size});
    }
    return sections;
}

// Segments count from 1; an offset outside its section is not code of this image.
const Section* SectionOf(const std::vector<Section>& sections, std::uint16_t segment, std::uint32_t offset) {
    if (segment == 0 || segment > sections.size()) {
        return nullptr;
    }
    const Section& section = sections[segment - 1];
    return offset < section.end - section.start ? &section : nullptr;
}

// LLVM sizes the PDB stream's table of named streams by the capacity the file
// claims before it reads a single entry: a damaged file claiming billions of
// slots would exhaust memory. The table's presence bits alone take one bit a
// slot, so a capacity beyond eight slots per byte left in the stream is damage.
llvm::Error CheckNamedStreamCapacity(pdb::PDBFile& file) {
    llvm::Expected<std::unique_ptr<llvm::msf::MappedBlockStream>> stream =
        file.safelyCreateIndexedStream(pdb::StreamPDB);
    if (!stream) {
        return stream.takeError();
    }
    llvm::BinaryStreamReader reader(**stream);
    constexpr std::uint32_t kHeaderSize = 28;  // version, signature, age, GUID
    std::uint32_t names_size = 0;
    std::uint32_t size = 0;
    std::uint32_t capacity = 0;
    if (llvm::Error error = reader.skip(kHeaderSize)) {
        return error;
    }
    if (llvm::Error error = reader.readInteger(names_size)) {
        return error;
    }
    if (llvm::Error error = reader.skip(names_size)) {
        return error;
    }
    if (llvm::Error error = reader.readInteger(size)) {
        return error;
    }
    if (llvm::Error error = reader.readInteger(capacity)) {
        return error;
    }
    if (capacity / 8 > reader.bytesRemaining()) {
        return Damaged("the named streams");
    }
    return llvm::Error::success();
}

bool IsProcedure(cv::SymbolKind kind) {
    return kind == cv::SymbolKind::S_GPROC32 || kind == cv::SymbolKind::S_LPROC32 ||
           kind == cv::SymbolKind::S_GPROC32_ID || kind == cv::SymbolKind::S_LPROC32_ID;
}

// Private symbols from every module's symbol stream. Names from a damaged
// file are not trusted: any damage is an error.
llvm::Error ReadPrivateFunctions(pdb::PDBFile& file, const pdb::DbiStream& dbi, const std::vector<Section>& sections,
                                 std::vector<FunctionRange>& functions) {
    const pdb::DbiModuleList& modules = dbi.modules();
    for (std::uint32_t index = 0; index < modules.getModuleCount(); ++index) {
        const pdb::DbiModuleDescriptor descriptor = modules.getModuleDescriptor(index);
        const std::uint16_t stream_index = descriptor.getModuleStreamIndex();
        if (stream_index == pdb::kInvalidStreamIndex) {
            continue;
        }
        llvm::Expected<std::unique_ptr<llvm::msf::MappedBlockStream>> stream =
            file.safelyCreateIndexedStream(stream_index);
        if (!stream) {
            return stream.takeError();
        }
        pdb::ModuleDebugStreamRef module(descriptor, std::move(*stream));
        if (llvm::Error error = module.reload()) {
            return error;
        }
        bool had_error = false;
        for (const cv::CVSymbol& symbol : module.symbols(&had_error)) {
            if (!IsProcedure(symbol.kind())) {
                continue;
            }
            llvm::Expected<cv::ProcSym> procedure = cv::SymbolDeserializer::deserializeAs<cv::ProcSym>(symbol);
            if (!procedure) {
                return procedure.takeError();
            }
            const Section* section = SectionOf(sections, procedure->Segment, procedure->CodeOffset);
            if (section == nullptr) {
                continue;
            }
            const std::uint32_t start = section->start + procedure->CodeOffset;
            const std::uint32_t end = procedure->CodeSize > section->end - start ? section->end
                                                                                 : start + procedure->CodeSize;
            functions.push_back({start, end, procedure->Name.str()});
        }
        if (had_error) {
            return Damaged("a module's symbol records");
        }
    }
    return llvm::Error::success();
}

// Public function symbols from the symbol record stream, which also holds
// the globals; those are not code.
llvm::Error ReadPublicFunctions(pdb::PDBFile& file, const pdb::DbiStream& dbi, const std::vector<Section>& sections,
                                std::vector<PublicSymbol>& publics) {
    const bool x86 = dbi.getMachineType() == pdb::PDB_Machine::x86;
    if (!file.hasPDBSymbolStream()) {
        return llvm::Error::success();
    }
    llvm::Expected<pdb::SymbolStream&> symbols = file.getPDBSymbolStream();
    if (!symbols) {
        return symbols.takeError();
    }
    bool had_error = false;
    const cv::CVSymbolArray& records = symbols->getSymbolArray();
    for (auto record = records.begin(&had_error); record != records.end(); ++record) {
        if (record->kind() != cv::SymbolKind::S_PUB32) {
            continue;
        }
        llvm::Expected<cv::PublicSym32> symbol = cv::SymbolDeserializer::deserializeAs<cv::PublicSym32>(*record);
        if (!symbol) {
            return symbol.takeError();
        }
        if ((symbol->Flags & cv::PublicSymFlags::Function) == cv::PublicSymFlags::None) {
            continue;
        }
        if (const Section* section = SectionOf(sections, symbol->Segment, symbol->Offset)) {
            publics.push_back(
                {section->start + symbol->Offset, section->end, UndecoratedPublicName(symbol->Name, x86)});
        }
    }
    return had_error ? Damaged("the public symbol records") : llvm::Error::success();
}

PdbReading ReadFrom(std::unique_ptr<llvm::MemoryBuffer> buffer, const PdbIdentity& wanted) {
    llvm::BumpPtrAllocator allocator;
    const std::string name = buffer->getBufferIdentifier().str();
    pdb::PDBFile file(name, std::make_unique<llvm::MemoryBufferByteStream>(std::move(buffer), llvm::support::little),
                      allocator);
    if (llvm::Error error = file.parseFileHeaders()) {
        return Unreadable(Message(std::move(error)));
    }
    if (llvm::Error error = file.parseStreamData()) {
        return Unreadable(Message(std::move(error)));
    }
    if (llvm::Error error = CheckNamedStreamCapacity(file)) {
        return Unreadable(Message(std::move(error)));
    }
    llvm::Expected<pdb::InfoStream&> info = file.getPDBInfoStream();
    if (!info) {
        return Unreadable(Message(info.takeError()));
    }
    llvm::Expected<pdb::DbiStream&> dbi = file.getPDBDbiStream();
    if (!dbi) {
        return Unreadable(Message(dbi.takeError()));
    }
    // The image records the debug information's age, which the PDB keeps in
    // its DBI stream; the PDB stream's own age counts every rewrite.
    PdbIdentity found;
    std::memcpy(found.guid.data(), info->getGuid().Guid, found.guid.size());
    found.age = dbi->getAge();
    if (found.guid != wanted.guid || found.age != wanted.age) {
        PdbReading reading;
        reading.outcome = PdbReading::Outcome::kOtherIdentity;
        reading.found = found;
        return reading;
    }
    llvm::Expected<std::vector<Section>> read_sections = ReadSections(*dbi);
    if (!read_sections) {
        return Unreadable(Message(read_sections.takeError()));
    }
    const std::vector<Section>& sections = *read_sections;
    std::vector<FunctionRange> functions;
    std::vector<PublicSymbol> publics;
    if (llvm::Error error = ReadPrivateFunctions(file, *dbi, sections, functions)) {
        return Unreadable(Message(std::move(error)));
    }
    if (llvm::Error error = ReadPublicFunctions(file, *dbi, sections, publics)) {
        return Unreadable(Message(std::move(error)));
    }
    PdbReading reading;
    reading.outcome = PdbReading::Outcome::kRead;
    reading.found = found;
    reading.functions = FunctionTable(std::move(functions), std::move(publics));
    return reading;
}

}  // namespace

PdbReading ReadPdb(const std::filesystem::path& file, const PdbIdentity& wanted) {
    llvm::ErrorOr<std::unique_ptr<llvm::MemoryBuffer>> buffer =
        llvm::MemoryBuffer::getFile(file.string(), /*IsText=*/false, /*RequiresNullTerminator=*/false);
    if (!buffer) {
        return Unreadable(buffer.getError().message());
    }
    return ReadFrom(std::move(*buffer), wanted);
}

PdbReading ReadPdbBytes(std::span<const std::uint8_t> bytes, const std::string& name, const PdbIdentity& wanted) {
    const llvm::StringRef text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return ReadFrom(llvm::MemoryBuffer::getMemBuffer(text, name, /*RequiresNullTerminator=*/false), wanted);
}

}  // namespace dormiscope::symbols
