// Linux: LLVM's PDB reader, in a child process that one reader serves from
// reading to reading.
#include <memory>

#include "view/symbols/pdb_reader.h"
#include "view/symbols/pdb_reading_process.h"

namespace dormiscope::symbols {

ReadPdbFunction SystemPdbReader() {
    auto process = std::make_shared<PdbReadingProcess>(
        [](const PdbReadingRequest& request) { return ReadPdb(request.source, request.wanted); });
    return [process](const std::filesystem::path& file, const PdbIdentity& wanted) {
        return process->Read({file.string(), wanted});
    };
}

}  // namespace dormiscope::symbols
