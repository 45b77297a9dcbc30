#include "view/json/json_tokens.h"

#include <limits>
#include <nlohmann/json.hpp>

namespace dormiscope::view {
namespace {

using Json = nlohmann::json;

class TokenSink final : public nlohmann::json_sax<Json> {
public:
    TokenSink(JsonTokens& out, std::size_t max_depth) : out_(out), max_depth_(max_depth) {}

    bool null() override { return Add(TokenKind::kNull); }
    bool boolean(bool value) override { return Add(value ? TokenKind::kTrue : TokenKind::kFalse); }
    bool number_integer(number_integer_t value) override {
        return Add(TokenKind::kNegative, static_cast<std::uint64_t>(value));
    }
    bool number_unsigned(number_unsigned_t value) override { return Add(TokenKind::kUnsigned, value); }
    // The characters, not the double: milliseconds are read exactly from them.
    bool number_float(number_float_t, const string_t& characters) override {
        return AddText(TokenKind::kOtherNumber, characters);
    }
    bool string(string_t& value) override { return AddText(TokenKind::kText, value); }
    bool binary(binary_t&) override { return Add(TokenKind::kNull); }  // JSON text holds none
    bool key(string_t& value) override { return AddText(TokenKind::kKey, value); }
    bool start_object(std::size_t) override { return Open(TokenKind::kObject); }
    bool end_object() override { return Close(TokenKind::kObjectEnd); }
    bool start_array(std::size_t) override { return Open(TokenKind::kArray); }
    bool end_array() override { return Close(TokenKind::kArrayEnd); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
        // "[json.exception.parse_error.101] parse error at line 1, column 9: ..." without the library's tag.
        const std::string_view message = error.what();
        const std::size_t tag_end = message.find("] ");
        out_.error = "not JSON: " + std::string(tag_end == std::string_view::npos ? message : message.substr(tag_end + 2));
        return false;
    }

private:
    bool Add(TokenKind kind, std::uint64_t value = 0, std::uint32_t length = 0) {
        out_.tokens.push_back({kind, length, value});
        return true;
    }
    bool AddText(TokenKind kind, std::string_view text) {
        if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
            out_.error = "a text of " + std::to_string(text.size()) + " bytes is longer than any document holds";
            return false;
        }
        const std::size_t offset = out_.texts.size();
        out_.texts += text;
        return Add(kind, offset, static_cast<std::uint32_t>(text.size()));
    }
    bool Open(TokenKind kind) {
        if (open_.size() == max_depth_) {
            out_.error = "objects and arrays nest deeper than " + std::to_string(max_depth_) + " levels";
            return false;
        }
        open_.push_back(out_.tokens.size());
        return Add(kind);
    }
    bool Close(TokenKind kind) {
        out_.tokens[open_.back()].value = out_.tokens.size();
        open_.pop_back();
        return Add(kind);
    }

    JsonTokens& out_;
    const std::size_t max_depth_;
    std::vector<std::size_t> open_;  // the tokens of the objects and arrays not yet closed
};

}  // namespace

JsonTokens TokenizeJson(std::string_view text, std::size_t max_depth) {
    JsonTokens tokens;
    // The view's documents hold about one token per four or five bytes, and half their bytes in texts.
    tokens.tokens.reserve(text.size() / 4);
    tokens.texts.reserve(text.size() / 2);
    TokenSink sink(tokens, max_depth);
    try {
        if (!Json::sax_parse(text.begin(), text.end(), &sink) && tokens.error.empty()) {
            tokens.error = "not JSON";
        }
    } catch (const Json::exception& error) {
        tokens.error = std::string("not JSON: ") + error.what();
    }
    if (!tokens.error.empty()) {
        tokens.tokens.clear();
        tokens.texts.clear();
    }
    return tokens;
}

}  // namespace dormiscope::view
