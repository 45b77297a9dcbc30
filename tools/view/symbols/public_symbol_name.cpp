#include "view/symbols/public_symbol_name.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "llvm/Demangle/Demangle.h"

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

bool RemoveSuffix(std::string_view& text, std::string_view suffix) {
    if (text.size() < suffix.size() || text.substr(text.size() - suffix.size()) != suffix) {
        return false;
    }
    text.remove_suffix(suffix.size());
    return true;
}

// "Worker::Run(int) const" → "Worker::Run"; unchanged when the parameter
// list is not where it should be.
std::string_view WithoutParameters(std::string_view signature) {
    std::string_view text = signature;
    while (RemoveSuffix(text, " const") || RemoveSuffix(text, " volatile") || RemoveSuffix(text, " __ptr64") ||
           RemoveSuffix(text, " __restrict") || RemoveSuffix(text, " &&") || RemoveSuffix(text, " &")) {
    }
    if (text.empty() || text.back() != ')') {
        return signature;
    }
    int depth = 0;
    for (std::size_t index = text.size(); index-- > 0;) {
        depth += text[index] == ')' ? 1 : text[index] == '(' ? -1 : 0;
        if (depth == 0) {
            return index == 0 ? signature : text.substr(0, index);
        }
    }
    return signature;
}

std::string DemangledFunction(std::string_view mangled) {
    const std::string text(mangled);
    int status = 0;
    const auto flags = static_cast<llvm::MSDemangleFlags>(llvm::MSDF_NoAccessSpecifier | llvm::MSDF_NoCallingConvention |
                                                          llvm::MSDF_NoReturnType | llvm::MSDF_NoMemberType);
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        llvm::microsoftDemangle(text.c_str(), nullptr, nullptr, nullptr, &status, flags), &std::free);
    if (status != llvm::demangle_success || demangled == nullptr) {
        return text;
    }
    return std::string(WithoutParameters(demangled.get()));
}

}  // namespace

std::string UndecoratedPublicName(std::string_view name, bool x86) {
    if (name.size() > 1 && name.front() == '?') {
        return DemangledFunction(name);
    }
    if (!x86 || name.size() < 2 || (name.front() != '_' && name.front() != '@')) {
        return std::string(name);
    }
    return std::string(WithoutArgumentSize(name.substr(1)));
}

}  // namespace dormiscope::symbols
