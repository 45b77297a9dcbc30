#include "view/symbols/public_symbol_name.h"

#include <algorithm>
#include <cctype>

namespace dormiscope::symbols {

namespace {

// "name@12" → "name": the stdcall and fastcall argument byte count.
std::string_view WithoutArgumentSize(std::string_view name) {
    const std::size_t at = name.rfind('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == name.size()) {
        return name;
    }
    const std::string_view digits = name.substr(at + 1);
    const bool all_digits = std::all_of(digits.begin(), digits.end(),
                                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
    return all_digits ? name.substr(0, at) : name;
}

}  // namespace

std::string UndecoratedPublicName(std::string_view name, bool x86) {
    if (!x86 || name.size() < 2 || (name.front() != '_' && name.front() != '@')) {
        return std::string(name);
    }
    return std::string(WithoutArgumentSize(name.substr(1)));
}

}  // namespace dormiscope::symbols
