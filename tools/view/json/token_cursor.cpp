#include "view/json/token_cursor.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace dormiscope::view {
namespace {

std::string_view KindName(TokenKind kind) {
    switch (kind) {
        case TokenKind::kObject:
            return "an object";
        case TokenKind::kArray:
            return "an array";
        case TokenKind::kText:
            return "text";
        case TokenKind::kUnsigned:
        case TokenKind::kNegative:
        case TokenKind::kOtherNumber:
            return "a number";
        case TokenKind::kTrue:
        case TokenKind::kFalse:
            return "a boolean";
        case TokenKind::kNull:
            return "null";
        case TokenKind::kObjectEnd:
        case TokenKind::kArrayEnd:
        case TokenKind::kKey:
            break;
    }
    return "the end";
}

// The digits of a whole number, appended with its value, if it fits.
bool AddDigits(std::uint64_t& value, std::string_view digits) {
    for (const char digit : digits) {
        if (digit < '0' || digit > '9') {
            return false;
        }
        const auto unit = static_cast<std::uint64_t>(digit - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - unit) / 10) {
            return false;
        }
        value = value * 10 + unit;
    }
    return true;
}

}  // namespace

const JsonToken& TokenCursor::Peeked() const {
    // The tokenizer only hands over whole values, so an end token always follows.
    return tokens_.tokens.at(position_);
}

const JsonToken& TokenCursor::Next(TokenKind expected, std::string_view what) {
    if (position_ >= tokens_.tokens.size()) {
        Refuse("expected " + std::string(what) + ", found nothing");
    }
    if (Peeked().kind != expected) {
        Refuse("expected " + std::string(what) + ", found " + std::string(Found()));
    }
    return tokens_.tokens[position_++];
}

std::size_t TokenCursor::EndOfValue(std::size_t at) const {
    const JsonToken& token = tokens_.tokens.at(at);
    const bool container = token.kind == TokenKind::kObject || token.kind == TokenKind::kArray;
    return (container ? static_cast<std::size_t>(token.value) : at) + 1;
}

std::string_view TokenCursor::Found() const {
    return position_ < tokens_.tokens.size() ? KindName(Peeked().kind) : "nothing";
}

void TokenCursor::CheckRead(std::size_t value_end) const {
    if (position_ != value_end) {
        // The reader's own fault, not the document's.
        throw std::logic_error("a value was left unread or read past");
    }
}

bool TokenCursor::Null() {
    if (Peeked().kind != TokenKind::kNull) {
        return false;
    }
    ++position_;
    return true;
}

bool TokenCursor::Bool() {
    if (position_ < tokens_.tokens.size() && Peeked().kind == TokenKind::kTrue) {
        ++position_;
        return true;
    }
    Next(TokenKind::kFalse, "true or false");
    return false;
}

std::uint64_t TokenCursor::Unsigned(std::uint64_t largest) {
    const JsonToken& token = Peeked();
    if (token.kind == TokenKind::kNegative) {
        Refuse("expected a whole number of 0 or more, found " +
               std::to_string(static_cast<std::int64_t>(token.value)));
    }
    if (token.kind == TokenKind::kOtherNumber) {
        Refuse("expected a whole number up to " + std::to_string(largest) + ", found " +
               std::string(tokens_.TextOf(token)));
    }
    const std::uint64_t value = Next(TokenKind::kUnsigned, "a whole number").value;
    if (value > largest) {
        Refuse(std::to_string(value) + " is beyond the largest allowed, " + std::to_string(largest));
    }
    return value;
}

double TokenCursor::Number() {
    const JsonToken& token = Peeked();
    switch (token.kind) {
        case TokenKind::kUnsigned:
            ++position_;
            return static_cast<double>(token.value);
        case TokenKind::kNegative:
            ++position_;
            return static_cast<double>(static_cast<std::int64_t>(token.value));
        case TokenKind::kOtherNumber: {
            const std::string_view text = tokens_.TextOf(token);
            double value = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
                Refuse(std::string(text) + " is beyond the numbers a double holds");
            }
            ++position_;
            return value;
        }
        default:
            Refuse("expected a number, found " + std::string(Found()));
    }
}

std::uint64_t TokenCursor::Scaled(unsigned decimals) {
    const JsonToken& token = Peeked();
    std::uint64_t scale = 1;
    for (unsigned digit = 0; digit < decimals; ++digit) {
        scale *= 10;
    }
    const std::string shape = "expected a number of 0 or more with at most " + std::to_string(decimals) + " decimals";
    if (token.kind == TokenKind::kUnsigned) {
        if (token.value > std::numeric_limits<std::uint64_t>::max() / scale) {
            Refuse(std::to_string(token.value) + " is beyond the largest allowed");
        }
        ++position_;
        return token.value * scale;
    }
    if (token.kind != TokenKind::kOtherNumber) {
        Refuse(shape + ", found " + std::string(Found()));
    }
    const std::string_view text = tokens_.TextOf(token);
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    std::uint64_t value = 0;
    if (fraction.size() > decimals || !AddDigits(value, whole)) {
        Refuse(shape + ", found " + std::string(text));
    }
    for (unsigned digit = 0; digit < decimals; ++digit) {
        const std::string_view next = digit < fraction.size() ? fraction.substr(digit, 1) : "0";
        if (!AddDigits(value, next)) {
            Refuse(shape + ", found " + std::string(text));
        }
    }
    ++position_;
    return value;
}

std::string_view TokenCursor::Text() {
    return tokens_.TextOf(Next(TokenKind::kText, "text"));
}

void TokenCursor::Refuse(std::string_view why) const {
    std::string where;
    for (const Step& step : path_) {
        if (step.element) {
            where += '[';
            where += std::to_string(step.index);
            where += ']';
        } else {
            if (!where.empty()) {
                where += '.';
            }
            where += step.key;
        }
    }
    throw DocumentRefusal((where.empty() ? std::string("the document") : where) + ": " + std::string(why));
}

}  // namespace dormiscope::view
