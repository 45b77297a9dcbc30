#include "view/json/json_out.h"

#include <cinttypes>
#include <cstdio>

#include "report/name_text.h"

namespace dormiscope::view {
namespace {

// UTF-8 as UTF-16 code units; a malformed sequence becomes U+FFFD.
std::wstring Utf16Of(std::string_view utf8) {
    std::wstring units;
    for (std::size_t index = 0; index < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[index]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        bool valid = length != 0 && index + length <= utf8.size();
        for (std::size_t next = 1; valid && next < length; ++next) {
            const auto unit = static_cast<unsigned char>(utf8[index + next]);
            valid = (unit & 0xC0) == 0x80;
            code = (code << 6) | (unit & 0x3F);
        }
        if (!valid || code > 0x10FFFF) {
            units += static_cast<wchar_t>(0xFFFD);
            ++index;
            continue;
        }
        if (code >= 0x10000) {
            units += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<wchar_t>(code);
        }
        index += length;
    }
    return units;
}

// A surrogate without its other half is no character, and JSON readers
// refuse it: it becomes U+FFFD, as a malformed UTF-8 sequence does.
std::wstring WithoutLoneSurrogates(std::wstring_view utf16) {
    const auto high = [](wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; };
    const auto low = [](wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; };
    std::wstring units;
    for (std::size_t index = 0; index < utf16.size(); ++index) {
        const wchar_t unit = utf16[index];
        if (high(unit) && index + 1 < utf16.size() && low(utf16[index + 1])) {
            units += unit;
            units += utf16[++index];
        } else {
            units += high(unit) || low(unit) ? static_cast<wchar_t>(0xFFFD) : unit;
        }
    }
    return units;
}

}  // namespace

JsonOut& JsonOut::Decimal(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return Value(text);
}

JsonOut& JsonOut::Milliseconds(std::uint64_t units) {
    char text[48];
    std::snprintf(text, sizeof text, "%" PRIu64 ".%04" PRIu64, units / 10000, units % 10000);
    return Value(text);
}

JsonOut& JsonOut::Text(std::wstring_view utf16) {
    Separate();
    out_ += '"';
    for (const wchar_t unit : JsonStringContent(WithoutLoneSurrogates(utf16))) {
        out_ += static_cast<char>(unit);
    }
    out_ += '"';
    return *this;
}

JsonOut& JsonOut::Utf8(std::string_view text) {
    return Text(Utf16Of(text));
}

}  // namespace dormiscope::view
