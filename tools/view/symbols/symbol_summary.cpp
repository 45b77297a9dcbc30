#include "view/symbols/symbol_summary.h"

namespace dormiscope::symbols {

std::string SymbolSummaryLine(const SymbolSummary& summary) {
    std::string line = "Symbols: " + std::to_string(summary.modules_with_symbols) + " of " +
                       std::to_string(summary.modules) + " modules";
    for (std::size_t index = 0; index < summary.missing.size(); ++index) {
        line += (index == 0 ? "; missing: " : ", ") + DescribePdb(summary.missing[index]);
    }
    return line;
}

}  // namespace dormiscope::symbols
