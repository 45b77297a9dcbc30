// Building JSON text: objects, strings from 8-bit and UTF-16 text, GUIDs.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/etw_api.h"

namespace dormiscope::etwdump {

// Appends the low `digits` hexadecimal digits of `value`, upper case.
void AppendHex(std::string& out, std::uint64_t value, int digits);

// Appends the bytes as a quoted JSON string. Each byte is one character
// (bytes of 0x80 and above become U+0080..U+00FF), so any bytes give valid JSON.
void AppendJsonString(std::string& out, std::string_view bytes);

// Appends UTF-16 text as a quoted JSON string. Units outside ASCII are written
// as \uXXXX escapes, which keeps surrogate pairs (and lone surrogates) as they are.
void AppendJsonString(std::string& out, std::u16string_view text);

// "{3D6FA8D1-FE05-11D0-9DDA-00C04FD7BA7C}": upper case, in braces.
std::string GuidText(const GUID& guid);

// The NUL-terminated UTF-16 text at the start of `bytes`, which then moves
// past the terminator; nothing when there is no terminator.
std::optional<std::u16string> TakeUtf16(std::span<const std::uint8_t>& bytes);

// Writes one JSON object into `out`: the brace opens now and closes when the
// writer goes out of scope; Key() starts a member whose value the caller appends.
class JsonObject {
public:
    explicit JsonObject(std::string& out) : out_(out) { out_ += '{'; }
    ~JsonObject() { out_ += '}'; }
    JsonObject(const JsonObject&) = delete;
    JsonObject& operator=(const JsonObject&) = delete;

    std::string& Key(std::string_view name);
    std::string& Key(std::u16string_view name);
    void Number(std::string_view name, std::int64_t value);
    void UnsignedNumber(std::string_view name, std::uint64_t value);
    void Text(std::string_view name, std::u16string_view text);
    // A null member when there is no text.
    void OptionalText(std::string_view name, const std::optional<std::u16string>& text);

private:
    void Separate();

    std::string& out_;
    bool first_ = true;
};

}  // namespace dormiscope::etwdump
