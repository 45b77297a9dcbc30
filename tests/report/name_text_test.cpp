#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "report/name_text.h"

namespace dormiscope {
namespace {

struct NameCase {
    std::string name;
    std::string utf8;
    std::wstring utf16;
    std::wstring json;
};

class NameTextTest : public testing::TestWithParam<NameCase> {};

TEST_P(NameTextTest, ConvertsAndEscapes) {
    const NameCase& expected = GetParam();
    const std::wstring text = NameText(expected.utf8);
    EXPECT_EQ(text, expected.utf16);
    EXPECT_EQ(JsonStringContent(text), expected.json);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameTextTest,
    testing::Values(
        NameCase{"PlainAscii", "svchost.exe", L"svchost.exe", L"svchost.exe"},
        NameCase{"Empty", "", L"", L""},
        NameCase{"QuoteAndBackslash", "a\"b\\c", L"a\"b\\c", L"a\\\"b\\\\c"},
        NameCase{"ControlCharacters", std::string("t\tn\nz\0e\x1f", 8), std::wstring(L"t\tn\nz\0e\x1f", 8),
                 L"t\\u0009n\\u000az\\u0000e\\u001f"},
        NameCase{"DeleteStaysRaw", "a\x7f", L"a\x7f", L"a\x7f"},
        NameCase{"TwoByteUtf8", "caf\xc3\xa9", L"caf\x00e9", L"caf\\u00e9"},
        NameCase{"ThreeByteUtf8", "\xe2\x82\xac", L"\x20ac", L"\\u20ac"},
        NameCase{"BeyondU+FFFFBecomesASurrogatePair", "\xf0\x9f\x98\x80", std::wstring{wchar_t(0xd83d), wchar_t(0xde00)},
                 L"\\ud83d\\ude00"},
        NameCase{"Latin1BytesStandForThemselves", "caf\xe9.exe", L"caf\x00e9.exe", L"caf\\u00e9.exe"},
        NameCase{"TruncatedSequenceAtTheEnd", "ab\xe2\x82", L"ab\x00e2\x0082", L"ab\\u00e2\\u0082"},
        NameCase{"LoneContinuationByte", "\x80x", L"\x0080x", L"\\u0080x"},
        NameCase{"OverlongSlash", "\xc0\xaf", L"\x00c0\x00af", L"\\u00c0\\u00af"},
        NameCase{"EncodedSurrogate", "\xed\xa0\x80", L"\x00ed\x00a0\x0080", L"\\u00ed\\u00a0\\u0080"},
        NameCase{"AboveU+10FFFF", "\xf4\x90\x80\x80", L"\x00f4\x0090\x0080\x0080",
                 L"\\u00f4\\u0090\\u0080\\u0080"},
        NameCase{"InvalidByteThenValidSequence", "\xff\xc3\xa9", L"\x00ff\x00e9", L"\\u00ff\\u00e9"}),
    [](const testing::TestParamInfo<NameCase>& info) {
        std::string name;
        for (const char c : info.param.name) {
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

}  // namespace
}  // namespace dormiscope
