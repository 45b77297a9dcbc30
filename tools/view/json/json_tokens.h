// A JSON text as a flat list of tokens, read by the JSON library's event
// parser. The document reader walks the list as it needs (a key looked up
// before the others, a value skipped in one step) without the cost of building
// a tree of objects for a document of ten thousand threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dormiscope::view {

enum class TokenKind : std::uint8_t {
    kObject,
    kObjectEnd,
    kArray,
    kArrayEnd,
    kKey,
    kText,
    kUnsigned,
    kNegative,
    kOtherNumber,  // with a fraction or an exponent, or beyond 64 bits
    kTrue,
    kFalse,
    kNull,
};

struct JsonToken {
    TokenKind kind;
    std::uint32_t length = 0;  // of a key's, a text's or another number's characters in JsonTokens::texts
    // kUnsigned: the number; kNegative: its two's complement; a key, a text or
    // another number: the offset of its characters; kObject and kArray: the
    // index of the token that ends them.
    std::uint64_t value = 0;
};

struct JsonTokens {
    std::vector<JsonToken> tokens;
    std::string texts;  // every key's, text's and other number's characters, one after another
    std::string error;  // empty when the text is JSON nested no deeper than asked

    std::string_view TextOf(const JsonToken& token) const {
        return std::string_view(texts).substr(static_cast<std::size_t>(token.value), token.length);
    }
};

// Refuses a text that is not one JSON value (cut short, trailing bytes, not
// UTF-8, a lone surrogate) or that nests objects and arrays deeper than
// `max_depth`, saying where.
JsonTokens TokenizeJson(std::string_view text, std::size_t max_depth);

}  // namespace dormiscope::view
