#include "view/symbols/symbol_resolver.h"

#include <algorithm>
#include <cctype>

#include "view/symbols/pdb_locator.h"

namespace dormiscope::symbols {

SymbolResolver::SymbolResolver(std::vector<std::filesystem::path> folders, ReadPdbFunction read)
    : folders_(std::move(folders)), read_(std::move(read)) {}

const FunctionOffset* SymbolResolver::Resolve(const PdbIdentity& identity, std::uint64_t module_offset) {
    Module& module = ModuleFor(identity);
    if (!module.functions || module_offset > UINT32_MAX) {
        return nullptr;
    }
    const auto offset = static_cast<std::uint32_t>(module_offset);
    auto [entry, inserted] = module.resolved.try_emplace(offset);
    if (inserted) {
        entry->second = module.functions->Lookup(offset);
    }
    return entry->second ? &*entry->second : nullptr;
}

SymbolResolver::Module& SymbolResolver::ModuleFor(const PdbIdentity& identity) {
    // Store and cache lookups ignore the case of the name, and so does this.
    std::string name = PdbFileName(identity);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto [entry, inserted] = module_index_.try_emplace(ModuleKey{identity.guid, identity.age, name}, modules_.size());
    if (inserted) {
        modules_.push_back({identity, std::nullopt, {}, false});
        LoadFunctions(modules_.back());
    }
    return modules_[entry->second];
}

void SymbolResolver::LoadFunctions(Module& module) {
    const PdbIdentity& identity = module.identity;
    for (const std::filesystem::path& candidate : PdbCandidates(folders_, identity)) {
        PdbReading reading = read_(candidate, identity);
        switch (reading.outcome) {
        case PdbReading::Outcome::kRead:
            module.functions = std::move(reading.functions);
            return;
        case PdbReading::Outcome::kOtherIdentity:
            reading.found.pdb_name = identity.pdb_name;
            warnings_.push_back("skipped " + candidate.string() + ": another build's PDB (" +
                                DescribePdb(reading.found) + ", the trace names " + DescribePdb(identity) + ")");
            break;
        case PdbReading::Outcome::kUnreadable:
            module.unreadable = true;
            warnings_.push_back("cannot read the PDB " + candidate.string() + ": " + reading.problem);
            break;
        case PdbReading::Outcome::kReaderFailed:
            module.unreadable = true;
            warnings_.push_back("the PDB " + candidate.string() + " could not be read (" + reading.problem + ")");
            break;
        }
    }
}

SymbolSummary SymbolResolver::Summary() const {
    SymbolSummary summary;
    summary.modules = modules_.size();
    for (const Module& module : modules_) {
        if (module.functions) {
            ++summary.modules_with_symbols;
        } else {
            (module.unreadable ? summary.unreadable : summary.missing).push_back(module.identity);
        }
    }
    return summary;
}

}  // namespace dormiscope::symbols
