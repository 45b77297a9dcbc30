// Writes JSON compactly into a string, element by element: what the view's
// documents are written with.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace dormiscope::view {

class JsonOut {
public:
    explicit JsonOut(std::string& out) : out_(out) {}

    JsonOut& Raw(std::string_view text) {
        out_ += text;
        return *this;
    }
    JsonOut& Key(std::string_view key) {
        Separate();
        out_ += '"';
        out_ += key;
        out_ += "\":";
        pending_value_ = true;
        return *this;
    }
    JsonOut& Open(char bracket) {
        Separate();
        out_ += bracket;
        first_ = true;
        return *this;
    }
    JsonOut& Close(char bracket) {
        out_ += bracket;
        first_ = false;
        return *this;
    }
    JsonOut& Unsigned(std::uint64_t value) { return Value(std::to_string(value)); }
    JsonOut& Signed(std::int64_t value) { return Value(std::to_string(value)); }
    // Rates and shares: three decimals.
    JsonOut& Decimal(double value);
    // 100-ns units as milliseconds, exactly: four decimals.
    JsonOut& Milliseconds(std::uint64_t units);
    JsonOut& Text(std::wstring_view utf16);
    JsonOut& Ascii(std::string_view text) { return Text(std::wstring(text.begin(), text.end())); }
    // Frame and module texts are UTF-8; they are escaped like names.
    JsonOut& Utf8(std::string_view text);
    JsonOut& Null() { return Value("null"); }
    JsonOut& Bool(bool value) { return Value(value ? "true" : "false"); }
    // The next element starts a new line, so that documents diff by process.
    JsonOut& LineBreak() {
        break_next_ = true;
        return *this;
    }

private:
    JsonOut& Value(std::string_view text) {
        Separate();
        out_ += text;
        return *this;
    }
    // A comma before every element but the first of its object or array.
    void Separate() {
        if (pending_value_) {
            pending_value_ = false;
            return;
        }
        if (!first_) {
            out_ += ',';
        }
        if (break_next_) {
            out_ += '\n';
            break_next_ = false;
        }
        first_ = false;
    }

    std::string& out_;
    bool first_ = true;
    bool pending_value_ = false;
    bool break_next_ = false;
};


// Counts by a number, such as C-state or period class, as an object.
template <typename Key>
void CountMap(JsonOut& json, const std::map<Key, std::uint64_t>& counts) {
    json.Open('{');
    for (const auto& [key, count] : counts) {
        json.Key(std::to_string(key)).Unsigned(count);
    }
    json.Close('}');
}

}  // namespace dormiscope::view
