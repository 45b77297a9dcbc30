#include "log/logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <vector>

namespace dormiscope {
namespace {

constexpr const char* kStamp = "Mon Dec  7 20:39:11 2026\n";
constexpr const char* kPrefix = "[Mon Dec  7 20:39:11 2026]";

// Puts the one logger into a known state, writing to a file of the test's own.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("dormiscope-logger-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log");
        Logger& log = Logger::Instance();
        log.Close();
        log.pending_lines.clear();
        log.pending_levels.clear();
        log.file_name = path_.string();
        log.time_source = [] { return std::string(kStamp); };
        log.thread_key_source = [this] { return thread_key_; };
    }

    void TearDown() override {
        Logger& log = Logger::Instance();
        log.Close();
        log.time_source = CurrentTimeText;
        log.thread_key_source = CurrentThreadKey;
        std::filesystem::remove(path_);
    }

    static void OpenWith(const std::wstring& level_text) {
        Logger::Instance().Configure(level_text);
        Logger::Instance().Open();
    }

    std::string Written() {
        Logger::Instance().Close();
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path path_;
    std::string thread_key_ = "1234";
};

TEST(LevelNameTest, NamesEveryValueAndNoneOtherwise) {
    const std::vector<std::pair<LogLevel, std::string>> cases = {
        {0, "DEBUG"}, {1, "TRACE"}, {2, "INFO"}, {3, "WARNING"}, {4, "ERROR"}, {5, "NONE"}, {7, "NONE"}, {-1, "NONE"},
    };
    for (const auto& [level, name] : cases) {
        EXPECT_EQ(LevelName(level), name) << level;
    }
}

TEST(AsctimeTextTest, PadsTheDayWithASpaceAndTheHourWithAZero) {
    std::tm time{};
    time.tm_year = 2026 - 1900;
    time.tm_mon = 11;
    time.tm_mday = 7;
    time.tm_wday = 1;
    time.tm_hour = 9;
    time.tm_min = 5;
    time.tm_sec = 3;
    EXPECT_EQ(AsctimeText(time), "Mon Dec  7 09:05:03 2026\n");
    time.tm_mday = 17;
    time.tm_wday = 4;
    EXPECT_EQ(AsctimeText(time), "Thu Dec 17 09:05:03 2026\n");
}

TEST(AsctimeTextTest, CurrentTimeHasTheFixedLayout) {
    const std::string text = CurrentTimeText();
    ASSERT_EQ(text.size(), 25U);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text[3], ' ');
    EXPECT_EQ(text[13], ':');
    EXPECT_EQ(text[16], ':');
}

TEST_F(LoggerTest, WholeLineHasBracketedStampAndLevelThenText) {
    OpenWith(L"info");
    Logger::Instance().Log("Parsing CSwitch records...", LEVEL_INFO);
    EXPECT_EQ(Written(), std::string(kPrefix) + "[INFO] Parsing CSwitch records...\n");
}

TEST_F(LoggerTest, ConfigureSetsTheThreshold) {
    struct Case {
        std::wstring level_text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {L"warning", "WARNING ERROR NONE "},
        {L"debug", "DEBUG TRACE INFO WARNING ERROR NONE "},
        {L"info", "INFO WARNING ERROR NONE "},
        {L"DEBUG", "INFO WARNING ERROR NONE "},
        {L"", "INFO WARNING ERROR NONE "},
    };
    for (const Case& test : cases) {
        OpenWith(test.level_text);
        for (LogLevel level : {-1, 0, 1, 2, 3, 4, 7}) {
            Logger::Instance().Log(LevelName(level) == "NONE" && level != 7 ? "" : "x", level);
        }
        std::string names;
        const std::string text = Written();
        for (std::size_t at = text.find("]["); at != std::string::npos; at = text.find("][", at + 1)) {
            names += text.substr(at + 2, text.find(']', at + 2) - at - 2) + " ";
        }
        EXPECT_EQ(names, test.expected) << "level text size " << test.level_text.size();
    }
}

TEST_F(LoggerTest, AssembledLinesFollowTheirFragments) {
    struct Case {
        const char* name;
        std::vector<std::string> fragments;
        std::string expected_text;
    };
    const std::vector<Case> cases = {
        {"empty line", {"\n"}, ""},
        {"fragment ending in a line feed keeps it", {"abc\n"}, "abc\n"},
        {"line feed in mid-fragment does not end the line", {"a\nb", "c", "\n"}, "a\nbc"},
    };
    for (const Case& test : cases) {
        OpenWith(L"info");
        Logger& log = Logger::Instance().Stream(LEVEL_INFO);
        for (const std::string& fragment : test.fragments) {
            log << fragment;
        }
        EXPECT_EQ(Written(), std::string(kPrefix) + "[INFO] " + test.expected_text + "\n") << test.name;
    }
}

TEST_F(LoggerTest, NumbersAreAppendedInDecimal) {
    OpenWith(L"info");
    Logger::Instance().Stream(LEVEL_INFO) << "n " << std::int32_t{-5} << " " << std::uint32_t{4000000000U} << " "
                                          << std::uint64_t{18446744073709551615ULL} << "\n";
    EXPECT_EQ(Written(), std::string(kPrefix) + "[INFO] n -5 4000000000 18446744073709551615\n");
}

TEST_F(LoggerTest, FragmentsWithoutStreamFormADebugLine) {
    OpenWith(L"info");
    Logger::Instance() << "dropped" << "\n";
    EXPECT_EQ(Written(), "");
    OpenWith(L"debug");
    Logger::Instance() << "loose" << "\n";
    EXPECT_EQ(Written(), std::string(kPrefix) + "[DEBUG] loose\n");
}

TEST_F(LoggerTest, LevelChangeWritesOutEveryThreadsUnfinishedLineInKeyOrder) {
    OpenWith(L"debug");
    Logger& log = Logger::Instance();
    thread_key_ = "956";
    log.Stream(LEVEL_DEBUG) << "second by key order";
    thread_key_ = "1234";
    log.Stream(LEVEL_DEBUG) << "first by key order";
    thread_key_ = "77";
    log.Stream(LEVEL_WARNING) << "after" << "\n";
    EXPECT_EQ(Written(), std::string(kPrefix) + "[DEBUG] first by key order\n" + kPrefix +
                             "[DEBUG] second by key order\n" + kPrefix + "[WARNING] after\n");
}

TEST_F(LoggerTest, AThreadsFirstStreamAtAnotherLevelWritesOutTheOthers) {
    OpenWith(L"debug");
    Logger& log = Logger::Instance();
    thread_key_ = "1";
    log.Stream(LEVEL_INFO) << "cut short";
    thread_key_ = "2";
    log.Stream(LEVEL_INFO) << "whole" << "\n";
    thread_key_ = "1";
    log << " continued" << "\n";
    EXPECT_EQ(Written(), std::string(kPrefix) + "[INFO] cut short\n" + kPrefix + "[INFO] whole\n" + kPrefix +
                             "[DEBUG]  continued\n");
}

TEST_F(LoggerTest, ConfigureAndOpenWhileOpenChangeNothing) {
    OpenWith(L"warning");
    Logger::Instance().Configure(L"debug");
    Logger::Instance().Open();
    Logger::Instance().Log("dropped", LEVEL_INFO);
    Logger::Instance().Log("kept", LEVEL_ERROR);
    EXPECT_EQ(Written(), std::string(kPrefix) + "[ERROR] kept\n");
}

TEST_F(LoggerTest, LinesBeforeOpenOrAfterCloseAreDropped) {
    Logger::Instance().Log("before", LEVEL_ERROR);
    OpenWith(L"info");
    Logger::Instance().Log("during", LEVEL_ERROR);
    Logger::Instance().Close();
    Logger::Instance().Log("after", LEVEL_ERROR);
    EXPECT_EQ(Written(), std::string(kPrefix) + "[ERROR] during\n");
}

TEST_F(LoggerTest, ALogThatCannotBeOpenedStaysClosed) {
    Logger::Instance().file_name = (path_ / "missing-directory" / "x.log").string();
    OpenWith(L"info");
    EXPECT_FALSE(Logger::Instance().is_open);
}

TEST_F(LoggerTest, ConcurrentThreadsNeverInterleaveLinesOrSplitFragments) {
    OpenWith(L"debug");
    Logger::Instance().thread_key_source = CurrentThreadKey;
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([thread] {
            for (int line = 0; line < kLines; ++line) {
                if (line % 2 == 0) {
                    Logger::Instance().Stream(LEVEL_DEBUG) << "t" << std::int32_t{thread} << " part-a "
                                                           << "part-b " << std::int32_t{line} << "\n";
                } else {
                    std::ostringstream text;
                    text << 't' << thread << " part-a part-b " << line;
                    Logger::Instance().Log(text.str(), LEVEL_DEBUG);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::istringstream lines(Written());
    std::set<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        const std::string prefix = std::string(kPrefix) + "[DEBUG] t";
        ASSERT_EQ(line.rfind(prefix, 0), 0U) << line;
        const std::string text = line.substr(prefix.size() - 1);
        ASSERT_NE(text.find(" part-a part-b "), std::string::npos) << line;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLines));
}

// A change of level flushes the file while other threads write whole lines to it.
TEST_F(LoggerTest, LevelChangesOnOneThreadLoseNoLineOfAnother) {
    OpenWith(L"debug");
    Logger::Instance().thread_key_source = CurrentThreadKey;
    constexpr int kLines = 2000;
    std::vector<std::thread> threads;
    for (int writer = 0; writer < 2; ++writer) {
        threads.emplace_back([writer] {
            for (int line = 0; line < kLines; ++line) {
                std::ostringstream text;
                text << 'w' << writer << '-' << line;
                Logger::Instance().Log(text.str(), LEVEL_WARNING);
            }
        });
    }
    for (int changer = 0; changer < 2; ++changer) {
        threads.emplace_back([] {
            for (int line = 0; line < kLines; ++line) {
                Logger::Instance().Stream(line % 2 == 0 ? LEVEL_INFO : LEVEL_ERROR) << "change\n";
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::istringstream lines(Written());
    std::set<std::string> written;
    const std::string warning = std::string(kPrefix) + "[WARNING] w";
    for (std::string line; std::getline(lines, line);) {
        if (line.find("[WARNING]") != std::string::npos) {
            ASSERT_EQ(line.rfind(warning, 0), 0U) << line;
            EXPECT_TRUE(written.insert(line).second) << line;
        }
    }
    EXPECT_EQ(written.size(), static_cast<std::size_t>(2 * kLines));
}

TEST(FormatLogMessageTest, PutsTheValueInPlaceOfTheConversion) {
    EXPECT_EQ(FormatLogMessage("WARNING: Trace is mising %u Events\n", std::uint64_t{5}),
              "WARNING: Trace is mising 5 Events");
    EXPECT_EQ(FormatLogMessage("ProcessTrace() failed with %lu\n", std::uint64_t{1392}), "ProcessTrace() failed with 1392");
    EXPECT_EQ(FormatLogMessage("Length: %f seconds ", 12.5), "Length: 12.500000 seconds ");
}

}  // namespace
}  // namespace dormiscope
