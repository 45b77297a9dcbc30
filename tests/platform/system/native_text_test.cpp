#include "platform/system/native_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/temporary_directory.h"

namespace dormiscope {
namespace {

#ifdef _WIN32

// CMakeLists.txt passes this argument to the test program: the command line
// arrives as UTF-16, the space inside one argument and a surrogate pair included.
TEST(CommandLineArgumentsTest, AUnicodeArgumentArrivesAsItsCharacters) {
    const std::vector<std::wstring> arguments = CommandLineArguments(0, nullptr);
    ASSERT_GE(arguments.size(), 2U);
    EXPECT_EQ(arguments.back(), L"r\u00e9sum\u00e9 \u20ac \U0001D11E");
}

#else

TEST(CommandLineArgumentsTest, DecodesTheLocalesBytesAndKeepsEveryOtherByte) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    std::string program = "dormiscope";
    std::string text = "r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E";
    std::string undecodable = "a\xFF\xC3";
    std::vector<char*> argv = {program.data(), text.data(), undecodable.data()};

    const std::vector<std::wstring> arguments = CommandLineArguments(3, argv.data());
    ASSERT_EQ(arguments.size(), 3U);
    EXPECT_EQ(arguments[1], L"r\u00e9sum\u00e9 \u20ac \U0001D11E");
    EXPECT_EQ(arguments[2], (std::wstring{L'a', wchar_t{0xDCFF}, wchar_t{0xDCC3}}));
    EXPECT_EQ(PathFromWide(arguments[2]).native(), undecodable);
    std::setlocale(LC_CTYPE, "C");
}

#endif

TEST(PathFromWideTest, ANonAsciiNameCreatesAndOpensTheFileOfThatName) {
#ifndef _WIN32
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
#endif
    const testing::TemporaryDirectory directory;
    const std::filesystem::path path = directory.path() / PathFromWide(L"rapport-\u00fc\u20ac\U0001D11E.json");
    {
        std::ofstream out(path, std::ios::binary);
        out << "{}\r\n";
    }
    EXPECT_EQ(testing::ReadFile(path), "{}\r\n");
    const std::filesystem::directory_entry entry = *std::filesystem::directory_iterator(directory.path());
    // On disk the name is its characters, whatever the system's own encoding of them.
    const std::u8string on_disk = entry.path().filename().u8string();
    EXPECT_EQ(std::string(on_disk.begin(), on_disk.end()), "rapport-\xC3\xBC\xE2\x82\xAC\xF0\x9D\x84\x9E.json");
#ifndef _WIN32
    std::setlocale(LC_CTYPE, "C");
#endif
}

}  // namespace
}  // namespace dormiscope
