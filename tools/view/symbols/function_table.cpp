#include "view/symbols/function_table.h"

#include <algorithm>

namespace dormiscope::symbols {

namespace {

// The last element starting at or before `offset`, or null.
template <typename Symbol>
const Symbol* LastStartingAtOrBefore(const std::vector<Symbol>& symbols, std::uint32_t offset) {
    const auto after = std::upper_bound(symbols.begin(), symbols.end(), offset,
                                        [](std::uint32_t value, const Symbol& symbol) { return value < symbol.start; });
    return after == symbols.begin() ? nullptr : &*std::prev(after);
}

}  // namespace

FunctionTable::FunctionTable(std::vector<FunctionRange> functions, std::vector<PublicSymbol> publics)
    : functions_(std::move(functions)), publics_(std::move(publics)) {
    const auto by_start = [](const auto& a, const auto& b) { return a.start < b.start; };
    std::stable_sort(functions_.begin(), functions_.end(), by_start);
    std::stable_sort(publics_.begin(), publics_.end(), by_start);
}

std::optional<FunctionOffset> FunctionTable::Lookup(std::uint32_t offset) const {
    const FunctionRange* function = LastStartingAtOrBefore(functions_, offset);
    if (function != nullptr && offset < function->end) {
        return FunctionOffset{function->name, offset - function->start};
    }
    const PublicSymbol* symbol = LastStartingAtOrBefore(publics_, offset);
    if (symbol == nullptr || offset >= symbol->section_end) {
        return std::nullopt;
    }
    // Past the end of a private function that starts after (or at) the
    // public symbol: that function is the nearest symbol, and it ended.
    if (function != nullptr && function->start >= symbol->start) {
        return std::nullopt;
    }
    return FunctionOffset{symbol->name, offset - symbol->start};
}

}  // namespace dormiscope::symbols
