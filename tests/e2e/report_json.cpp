#include "report_json.h"

#include <charconv>

namespace dormiscope::testing {
namespace {

class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Document() {
        JsonValue value;
        SkipSpace();
        if (!Value(value, 0)) {
            return std::nullopt;
        }
        SkipSpace();
        if (at_ != text_.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    // Deep enough for any report; stops a hostile document from exhausting the stack.
    static constexpr int kMaxDepth = 64;

    bool AtEnd() const { return at_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[at_]; }

    void SkipSpace() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
            ++at_;
        }
    }

    bool Take(char expected) {
        if (AtEnd() || Peek() != expected) {
            return false;
        }
        ++at_;
        return true;
    }

    bool Value(JsonValue& value, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        switch (Peek()) {
        case '{':
            return Object(value, depth);
        case '[':
            return Array(value, depth);
        case '"':
            value.kind = JsonValue::Kind::String;
            return String(value.text);
        case 't':
            return Literal("true", JsonValue::Kind::Boolean, value);
        case 'f':
            return Literal("false", JsonValue::Kind::Boolean, value);
        case 'n':
            return Literal("null", JsonValue::Kind::Null, value);
        default:
            return Number(value);
        }
    }

    bool Literal(std::string_view word, JsonValue::Kind kind, JsonValue& value) {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        value.kind = kind;
        value.text.assign(word.begin(), word.end());
        return true;
    }

    bool Object(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Object;
        Take('{');
        SkipSpace();
        if (Take('}')) {
            return true;
        }
        do {
            SkipSpace();
            std::u16string key;
            if (!String(key)) {
                return false;
            }
            SkipSpace();
            if (!Take(':')) {
                return false;
            }
            SkipSpace();
            JsonValue member;
            if (!Value(member, depth + 1)) {
                return false;
            }
            value.members.emplace_back(std::move(key), std::move(member));
            SkipSpace();
        } while (Take(','));
        return Take('}');
    }

    bool Array(JsonValue& value, int depth) {
        value.kind = JsonValue::Kind::Array;
        Take('[');
        SkipSpace();
        if (Take(']')) {
            return true;
        }
        do {
            SkipSpace();
            JsonValue item;
            if (!Value(item, depth + 1)) {
                return false;
            }
            value.items.push_back(std::move(item));
            SkipSpace();
        } while (Take(','));
        return Take(']');
    }

    bool Digits() {
        const std::size_t start = at_;
        while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
            ++at_;
        }
        return at_ > start;
    }

    bool Number(JsonValue& value) {
        const std::size_t start = at_;
        Take('-');
        if (!Take('0') && !(Peek() >= '1' && Peek() <= '9' && Digits())) {
            return false;
        }
        if (Take('.') && !Digits()) {
            return false;
        }
        if (Take('e') || Take('E')) {
            if (!Take('+')) {
                Take('-');
            }
            if (!Digits()) {
                return false;
            }
        }
        value.kind = JsonValue::Kind::Number;
        value.text.assign(text_.begin() + static_cast<std::ptrdiff_t>(start),
                          text_.begin() + static_cast<std::ptrdiff_t>(at_));
        return true;
    }

    bool HexUnit(char16_t& unit) {
        if (text_.size() - at_ < 4) {
            return false;
        }
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, value, 16);
        if (error != std::errc() || end != text_.data() + at_ + 4) {
            return false;
        }
        at_ += 4;
        unit = static_cast<char16_t>(value);
        return true;
    }

    bool Escape(std::u16string& out) {
        const char kind = Peek();
        ++at_;
        switch (kind) {
        case '"': out.push_back(u'"'); return true;
        case '\\': out.push_back(u'\\'); return true;
        case '/': out.push_back(u'/'); return true;
        case 'b': out.push_back(u'\b'); return true;
        case 'f': out.push_back(u'\f'); return true;
        case 'n': out.push_back(u'\n'); return true;
        case 'r': out.push_back(u'\r'); return true;
        case 't': out.push_back(u'\t'); return true;
        case 'u': {
            char16_t unit = 0;
            if (!HexUnit(unit)) {
                return false;
            }
            out.push_back(unit);
            return true;
        }
        default:
            return false;
        }
    }

    // One UTF-8 encoded character as UTF-16; invalid sequences are refused.
    bool Utf8Character(std::u16string& out) {
        const auto lead = static_cast<unsigned char>(Peek());
        std::size_t length = 0;
        char32_t code_point = 0;
        char32_t smallest = 0;
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
            return false;
        }
        if (text_.size() - at_ < length) {
            return false;
        }
        for (std::size_t i = 1; i < length; ++i) {
            const auto next = static_cast<unsigned char>(text_[at_ + i]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code_point = (code_point << 6) | (next & 0x3F);
        }
        if (code_point < smallest || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
            return false;
        }
        at_ += length;
        if (code_point < 0x10000) {
            out.push_back(static_cast<char16_t>(code_point));
        } else {
            out.push_back(static_cast<char16_t>(0xD800 + ((code_point - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF)));
        }
        return true;
    }

    bool String(std::u16string& out) {
        if (!Take('"')) {
            return false;
        }
        while (!AtEnd()) {
            const auto byte = static_cast<unsigned char>(Peek());
            if (byte == '"') {
                ++at_;
                return true;
            }
            if (byte < 0x20) {
                return false;
            }
            if (byte == '\\') {
                ++at_;
                if (AtEnd() || !Escape(out)) {
                    return false;
                }
            } else if (byte < 0x80) {
                out.push_back(byte);
                ++at_;
            } else if (!Utf8Character(out)) {
                return false;
            }
        }
        return false;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::optional<std::string> Ascii(std::u16string_view units) {
    std::string text;
    for (const char16_t unit : units) {
        if (unit > 0x7F) {
            return std::nullopt;
        }
        text.push_back(static_cast<char>(unit));
    }
    return text;
}

std::optional<std::string> AsciiText(const JsonValue* value, JsonValue::Kind kind) {
    if (value == nullptr || value->kind != kind) {
        return std::nullopt;
    }
    return Ascii(value->text);
}

bool HistogramEntries(const JsonValue* histogram, ReportedThread& thread) {
    if (histogram == nullptr || histogram->kind != JsonValue::Kind::Array) {
        return false;
    }
    for (const JsonValue& entry : histogram->items) {
        if (entry.kind != JsonValue::Kind::Object || entry.members.size() != 1) {
            return false;
        }
        const auto& [key, count] = entry.members.front();
        const auto key_text = Ascii(key);
        const auto count_text = AsciiText(&count, JsonValue::Kind::Number);
        std::int64_t value = 0;
        if (!key_text || !count_text ||
            std::from_chars(count_text->data(), count_text->data() + count_text->size(), value).ptr !=
                count_text->data() + count_text->size()) {
            return false;
        }
        thread.histogram.emplace_back(*key_text, value);
    }
    return true;
}

}  // namespace

const JsonValue* JsonValue::Member(std::u16string_view key) const {
    for (const auto& [name, value] : members) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

std::optional<JsonValue> ParseJson(std::string_view document) {
    return JsonReader(document).Document();
}

std::optional<std::vector<ReportedThread>> ReportedThreads(std::string_view document) {
    const std::optional<JsonValue> root = ParseJson(document);
    const JsonValue* processes = root ? root->Member(u"processes") : nullptr;
    if (processes == nullptr || processes->kind != JsonValue::Kind::Array) {
        return std::nullopt;
    }
    std::vector<ReportedThread> threads;
    for (const JsonValue& process : processes->items) {
        const JsonValue* name = process.Member(u"name");
        const auto pid = AsciiText(process.Member(u"pid"), JsonValue::Kind::String);
        const JsonValue* buckets = process.Member(u"buckets");
        if (name == nullptr || name->kind != JsonValue::Kind::String || !pid || buckets == nullptr ||
            buckets->kind != JsonValue::Kind::Array || buckets->items.empty()) {
            return std::nullopt;
        }
        for (const JsonValue& bucket : buckets->items) {
            ReportedThread thread;
            thread.process_name = name->text;
            thread.pid = *pid;
            const auto thread_id = AsciiText(bucket.Member(u"threadID"), JsonValue::Kind::String);
            const auto periodicity = AsciiText(bucket.Member(u"periodicity"), JsonValue::Kind::String);
            if (!thread_id || !periodicity || !HistogramEntries(bucket.Member(u"histogram"), thread)) {
                return std::nullopt;
            }
            thread.thread_id = *thread_id;
            thread.periodicity = *periodicity;
            threads.push_back(std::move(thread));
        }
    }
    return threads;
}

}  // namespace dormiscope::testing
