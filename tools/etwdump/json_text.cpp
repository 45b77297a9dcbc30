#include "etwdump/json_text.h"

#include <type_traits>

#include "platform/etl_reader/little_endian.h"

namespace dormiscope::etwdump {
namespace {

bool NeedsEscape(unsigned code) {
    return code < 0x20 || code >= 0x7F || code == '"' || code == '\\';
}

// Appends one character that needs an escape; `code` is below 0x10000.
void AppendEscaped(std::string& out, unsigned code) {
    switch (code) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            out += "\\u";
            AppendHex(out, code, 4);
            return;
    }
}

template <typename Character>
void AppendQuoted(std::string& out, std::basic_string_view<Character> text) {
    out.push_back('"');
    for (const Character character : text) {
        const auto code = static_cast<std::make_unsigned_t<Character>>(character);
        if (NeedsEscape(code)) {
            AppendEscaped(out, code);
        } else {
            out.push_back(static_cast<char>(code));
        }
    }
    out.push_back('"');
}

}  // namespace

void AppendHex(std::string& out, std::uint64_t value, int digits) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    for (int digit = digits - 1; digit >= 0; --digit) {
        out.push_back(kHexDigits[(value >> (4 * digit)) & 0xF]);
    }
}

void AppendJsonString(std::string& out, std::string_view bytes) {
    AppendQuoted(out, bytes);
}

void AppendJsonString(std::string& out, std::u16string_view text) {
    AppendQuoted(out, text);
}

std::string GuidText(const GUID& guid) {
    std::string text;
    text.reserve(38);
    text.push_back('{');
    AppendHex(text, guid.Data1, 8);
    text.push_back('-');
    AppendHex(text, guid.Data2, 4);
    text.push_back('-');
    AppendHex(text, guid.Data3, 4);
    text.push_back('-');
    for (std::size_t index = 0; index < 8; ++index) {
        if (index == 2) {
            text.push_back('-');
        }
        AppendHex(text, guid.Data4[index], 2);
    }
    text.push_back('}');
    return text;
}

std::optional<std::u16string> TakeUtf16(std::span<const std::uint8_t>& bytes) {
    std::u16string text = Utf16Prefix(bytes);
    const std::size_t used = (text.size() + 1) * sizeof(char16_t);
    if (used > bytes.size()) {
        return std::nullopt;
    }
    bytes = bytes.subspan(used);
    return text;
}

void JsonObject::Separate() {
    if (!first_) {
        out_ += ',';
    }
    first_ = false;
}

std::string& JsonObject::Key(std::string_view name) {
    Separate();
    AppendJsonString(out_, name);
    out_ += ':';
    return out_;
}

std::string& JsonObject::Key(std::u16string_view name) {
    Separate();
    AppendJsonString(out_, name);
    out_ += ':';
    return out_;
}

void JsonObject::Number(std::string_view name, std::int64_t value) {
    Key(name) += std::to_string(value);
}

void JsonObject::UnsignedNumber(std::string_view name, std::uint64_t value) {
    Key(name) += std::to_string(value);
}

void JsonObject::Text(std::string_view name, std::u16string_view text) {
    AppendJsonString(Key(name), text);
}

void JsonObject::OptionalText(std::string_view name, const std::optional<std::u16string>& text) {
    if (text) {
        Text(name, *text);
    } else {
        Key(name) += "null";
    }
}

}  // namespace dormiscope::etwdump
