#include "report/name_text.h"

#include <cstddef>
#include <cstdint>

namespace dormiscope {

namespace {

bool IsContinuation(std::string_view text, std::size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

// The code point of the valid UTF-8 sequence starting at `at` and its length
// in bytes; length 0 when the bytes there form none (overlong forms, surrogates
// and values above U+10FFFF included).
struct Decoded {
    char32_t code_point = 0;
    std::size_t length = 0;
};

Decoded DecodeAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    char32_t code_point = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        return {lead, 1};
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1F;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0F;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07;
        smallest = 0x10000;
    } else {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (!IsContinuation(text, at + i)) {
            return {};
        }
        code_point = (code_point << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    if (code_point < smallest || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
        return {};
    }
    return {code_point, length};
}

void AppendUtf16(std::wstring& out, char32_t code_point) {
    if (code_point < 0x10000) {
        out.push_back(static_cast<wchar_t>(code_point));
        return;
    }
    const char32_t offset = code_point - 0x10000;
    out.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
}

void AppendUnicodeEscape(std::wstring& out, std::uint32_t code_unit) {
    static constexpr wchar_t kHexDigits[] = L"0123456789abcdef";
    out += L"\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(kHexDigits[(code_unit >> shift) & 0xF]);
    }
}

}  // namespace

std::wstring NameText(std::string_view utf8_name) {
    std::wstring text;
    std::size_t at = 0;
    while (at < utf8_name.size()) {
        const Decoded decoded = DecodeAt(utf8_name, at);
        if (decoded.length == 0) {
            text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(utf8_name[at])));
            ++at;
        } else {
            AppendUtf16(text, decoded.code_point);
            at += decoded.length;
        }
    }
    return text;
}

std::wstring JsonStringContent(std::wstring_view utf16_text) {
    std::wstring content;
    for (const wchar_t character : utf16_text) {
        const auto code_unit = static_cast<std::uint32_t>(character);
        if (character == L'"' || character == L'\\') {
            content.push_back(L'\\');
            content.push_back(character);
        } else if (code_unit > 0xFFFF) {
            // A 32-bit wchar_t may hold a whole code point: escape it as its surrogate pair.
            const std::uint32_t offset = code_unit - 0x10000;
            AppendUnicodeEscape(content, 0xD800 + ((offset >> 10) & 0x3FF));
            AppendUnicodeEscape(content, 0xDC00 + (offset & 0x3FF));
        } else if (code_unit < 0x20 || code_unit > 0x7F) {
            AppendUnicodeEscape(content, code_unit);
        } else {
            content.push_back(character);
        }
    }
    return content;
}

}  // namespace dormiscope
