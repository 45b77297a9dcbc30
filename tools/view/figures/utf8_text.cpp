#include "view/figures/utf8_text.h"

namespace dormiscope::view {

std::string Utf8Of(std::wstring_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t index = 0; index < utf16.size(); ++index) {
        char32_t code = static_cast<char32_t>(utf16[index]) & 0xFFFF;
        if (code >= 0xD800 && code <= 0xDFFF) {
            const char32_t low = index + 1 < utf16.size() ? static_cast<char32_t>(utf16[index + 1]) & 0xFFFF : 0;
            if (code <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++index;
            } else {
                code = 0xFFFD;
            }
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace dormiscope::view
