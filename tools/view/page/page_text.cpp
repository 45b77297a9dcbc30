#include "view/page/page_text.h"

#include <cinttypes>
#include <cstdio>

namespace dormiscope::view {

std::string HtmlText(std::wstring_view utf16) {
    std::string out;
    for (std::size_t index = 0; index < utf16.size(); ++index) {
        std::uint32_t code = static_cast<std::uint32_t>(utf16[index]);
        if (code >= 0xD800 && code < 0xDC00 && index + 1 < utf16.size()) {
            const auto low = static_cast<std::uint32_t>(utf16[index + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++index;
            }
        }
        // Lone surrogates and control characters have no character of their own.
        const bool lone_surrogate = code >= 0xD800 && code < 0xE000;
        if (code < 0x20 || code == 0x7F || lone_surrogate) {
            out += "&#xFFFD;";
        } else if (code == '&') {
            out += "&amp;";
        } else if (code == '<') {
            out += "&lt;";
        } else if (code == '>') {
            out += "&gt;";
        } else if (code == '"') {
            out += "&quot;";
        } else if (code == '\'') {
            out += "&#39;";
        } else if (code < 0x80) {
            out += static_cast<char>(code);
        } else {
            char reference[16];
            std::snprintf(reference, sizeof reference, "&#x%" PRIX32 ";", code);
            out += reference;
        }
    }
    return out;
}

std::string ScriptText(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    for (const char character : json) {
        if (character == '<') {
            out += "\\u003c";
        } else {
            out += character;
        }
    }
    return out;
}

}  // namespace dormiscope::view
