// Walks JSON tokens the way a reader expects them, value by value, and
// refuses what it did not expect with the key path where it met it:
// "processes[2].threads[0].wakes: expected a whole number, found text".
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "view/json/json_tokens.h"

namespace dormiscope::view {

// What is wrong with a document, with the key path where it was found.
class DocumentRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TokenCursor {
public:
    explicit TokenCursor(const JsonTokens& tokens) : tokens_(tokens) {}

    // An object with exactly these keys (at most 64), each once, in any
    // order; `read(key)` reads each key's value.
    template <typename Read>
    void Object(std::initializer_list<std::string_view> keys, Read read);
    // An object whose keys the reader checks itself, such as counts by class.
    template <typename Read>
    void Entries(Read read);
    // `read()` reads each element.
    template <typename Read>
    void Array(Read read);
    // Looks ahead in the object at the cursor: `read()` reads the value of
    // `key` there, and the cursor stays where it was. False when the key is absent.
    template <typename Read>
    bool Peek(std::string_view key, Read read);

    bool Null();  // true, past it, when the value is null
    bool Bool();
    std::uint64_t Unsigned(std::uint64_t largest);
    double Number();  // finite
    // A number with at most `decimals` decimals, times ten to that power: exact.
    std::uint64_t Scaled(unsigned decimals);
    std::string_view Text();  // UTF-8

    [[noreturn]] void Refuse(std::string_view why) const;
    // Whether the whole text was read.
    bool AtEnd() const { return position_ == tokens_.tokens.size(); }

private:
    struct Step {
        std::string_view key;
        std::size_t index = 0;
        bool element = false;  // an array's element, by index, rather than a key
    };

    const JsonToken& Next(TokenKind expected, std::string_view what);
    const JsonToken& Peeked() const;
    std::size_t EndOfValue(std::size_t at) const;
    std::string_view Found() const;
    void CheckRead(std::size_t value_end) const;

    const JsonTokens& tokens_;
    std::size_t position_ = 0;
    std::vector<Step> path_;
};

template <typename Read>
void TokenCursor::Object(std::initializer_list<std::string_view> keys, Read read) {
    std::uint64_t seen = 0;
    Entries([&](std::string_view key) {
        std::uint64_t bit = 1;
        for (const std::string_view known : keys) {
            if (known == key) {
                if ((seen & bit) != 0) {
                    Refuse("given twice");
                }
                seen |= bit;
                read(key);
                return;
            }
            bit <<= 1;
        }
        Refuse("not a key of this object");
    });
    std::uint64_t bit = 1;
    for (const std::string_view key : keys) {
        if ((seen & bit) == 0) {
            path_.push_back({key});
            Refuse("missing");
        }
        bit <<= 1;
    }
}

template <typename Read>
void TokenCursor::Entries(Read read) {
    Next(TokenKind::kObject, "an object");
    while (Peeked().kind != TokenKind::kObjectEnd) {
        const std::string_view key = tokens_.TextOf(Next(TokenKind::kKey, "a key"));
        path_.push_back({key});
        const std::size_t value_end = EndOfValue(position_);
        read(key);
        CheckRead(value_end);
        path_.pop_back();
    }
    ++position_;
}

template <typename Read>
void TokenCursor::Array(Read read) {
    Next(TokenKind::kArray, "an array");
    for (std::size_t index = 0; Peeked().kind != TokenKind::kArrayEnd; ++index) {
        path_.push_back({{}, index, true});
        const std::size_t value_end = EndOfValue(position_);
        read();
        CheckRead(value_end);
        path_.pop_back();
    }
    ++position_;
}

template <typename Read>
bool TokenCursor::Peek(std::string_view key, Read read) {
    if (Peeked().kind != TokenKind::kObject) {
        return false;
    }
    const std::size_t start = position_;
    const std::size_t end = static_cast<std::size_t>(tokens_.tokens[start].value);
    for (std::size_t at = start + 1; at < end; at = EndOfValue(at + 1)) {
        if (tokens_.TextOf(tokens_.tokens[at]) == key) {
            position_ = at + 1;
            path_.push_back({key});
            read();
            path_.pop_back();
            position_ = start;
            return true;
        }
    }
    return false;
}

}  // namespace dormiscope::view
