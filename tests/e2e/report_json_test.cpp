// The reader that decides whether a report is valid JSON must itself refuse
// what JSON refuses, or the report checks would prove nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report_json.h"

namespace dormiscope::testing {
namespace {

TEST(ReportJsonReader, AcceptsExactlyValidDocuments) {
    const std::vector<std::pair<std::string, bool>> documents = {
        {"{\"a\":[1,-2.5e+3,true,false,null,\"\\u00e9\\ud83d\\ude00\\\"\\\\\\/\\b\\f\\n\\r\\t\"]}\r\n", true},
        {"[]", true},
        {"\"caf\xC3\xA9\"", true},
        {"{\"a\":1,}", false},        // trailing comma
        {"[1 2]", false},             // missing comma
        {"\"tab\there\"", false},     // raw control character
        {"\"caf\xE9\"", false},       // not UTF-8
        {"\"\\x41\"", false},         // no such escape
        {"\"\\u12G4\"", false},
        {"[01]", false},              // leading zero
        {"[1.]", false},
        {"{\"a\":1} {}", false},      // two documents
        {"\"open", false},
        {std::string(100, '[') + std::string(100, ']'), false},  // deeper than any report
    };
    for (const auto& [document, valid] : documents) {
        EXPECT_EQ(ParseJson(document).has_value(), valid) << document;
    }
}

TEST(ReportJsonReader, DecodesEscapesIntoUtf16) {
    const auto value = ParseJson("{\"k\":\"a\\\"\\u00e9\\ud83d\\ude00\xC3\xA9\"}");
    ASSERT_TRUE(value.has_value());
    const JsonValue* member = value->Member(u"k");
    ASSERT_NE(member, nullptr);
    EXPECT_TRUE(member->text == u"a\"\u00e9\U0001F600\u00e9");
}

}  // namespace
}  // namespace dormiscope::testing
