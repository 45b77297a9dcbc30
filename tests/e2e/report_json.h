// Reads a report back as JSON: a strict reader of the whole grammar, so a
// document it accepts is one any JSON parser accepts, and the report's threads
// taken out of it for checks that do not depend on the layout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dormiscope::testing {

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    // String: its UTF-16 code units, escapes decoded. Number and Boolean: the text as written.
    std::u16string text;
    std::vector<JsonValue> items;                                 // Array
    std::vector<std::pair<std::u16string, JsonValue>> members;   // Object, in document order

    // The first member named `key`; null when this is no object or has no such member.
    const JsonValue* Member(std::u16string_view key) const;
};

// The value of the whole document, or nothing when it is not valid JSON (RFC 8259).
std::optional<JsonValue> ParseJson(std::string_view document);

struct ReportedThread {
    std::u16string process_name;
    std::string pid;
    std::string thread_id;
    std::string periodicity;
    std::vector<std::pair<std::string, std::int64_t>> histogram;  // class key ("15 ms") and count
};

// Every thread of a report in document order; nothing when the document is not
// valid JSON or not shaped as a report.
std::optional<std::vector<ReportedThread>> ReportedThreads(std::string_view document);

}  // namespace dormiscope::testing
