#include "view/symbols/symbol_summary.h"

#include <string_view>

namespace dormiscope::symbols {

namespace {

void AddList(std::string& line, std::string_view heading, const std::vector<std::string>& items) {
    for (std::size_t index = 0; index < items.size(); ++index) {
        line += index == 0 ? "; " + std::string(heading) + ": " : std::string(", ");
        line += items[index];
    }
}

std::vector<std::string> Described(const std::vector<PdbIdentity>& pdbs) {
    std::vector<std::string> texts;
    for (const PdbIdentity& pdb : pdbs) {
        texts.push_back(DescribePdb(pdb));
    }
    return texts;
}

}  // namespace

std::string SymbolSummaryLine(const SymbolSummary& summary) {
    std::string line = "Symbols: " + std::to_string(summary.modules_with_symbols) + " of " +
                       std::to_string(summary.modules) + " modules";
    AddList(line, "missing", Described(summary.missing));
    AddList(line, "unreadable", Described(summary.unreadable));
    AddList(line, "no identity in the trace", summary.without_identity);
    return line;
}

}  // namespace dormiscope::symbols
