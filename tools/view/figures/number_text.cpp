#include "view/figures/number_text.h"

#include <cstdio>

namespace dormiscope::view {
namespace {

// Commas between the thousands of the integer part of a plain decimal number.
std::string WithSeparators(const std::string& plain) {
    const std::size_t sign = plain.starts_with('-') ? 1 : 0;
    const std::size_t point = plain.find('.');
    const std::size_t integer_end = point == std::string::npos ? plain.size() : point;
    std::string out = plain.substr(0, sign);
    for (std::size_t index = sign; index < integer_end; ++index) {
        if (index > sign && (integer_end - index) % 3 == 0) {
            out += ',';
        }
        out += plain[index];
    }
    out += plain.substr(integer_end);
    return out;
}

}  // namespace

std::string Grouped(double value, int decimals) {
    // Wide enough for any double printed in full.
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return WithSeparators(text);
}

std::string Grouped(std::uint64_t value) {
    return WithSeparators(std::to_string(value));
}

std::string CountOf(std::uint64_t count, std::string_view singular, std::string_view plural) {
    std::string out = Grouped(count);
    out += ' ';
    out += count == 1 ? singular : plural;
    return out;
}

}  // namespace dormiscope::view
