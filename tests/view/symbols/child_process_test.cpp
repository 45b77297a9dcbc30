#include "view/symbols/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace dormiscope::symbols {
namespace {

using std::chrono::milliseconds;

constexpr std::size_t kOutputLimit = 1 << 20;

TEST(ChildProcess, ReturnsWhatTheWorkReturnedEvenBeyondAPipesBuffer) {
    std::string expected(kOutputLimit, '\0');
    for (std::size_t index = 0; index < expected.size(); ++index) {
        expected[index] = static_cast<char>(index * 7 + index / 4096);
    }
    const ChildProcessResult result = RunInChildProcess([&] { return expected; }, milliseconds(30'000), kOutputLimit);
    ASSERT_TRUE(result.finished) << result.failure;
    EXPECT_EQ(result.output, expected);
    EXPECT_EQ(result.failure, "");
}

TEST(ChildProcess, EveryWayTheChildCanFailIsReportedAndTheCallerGoesOn) {
    struct Case {
        const char* what;
        std::function<std::string()> work;
        milliseconds time_limit;
        std::string failure;
    };
    const Case cases[] = {
        {"a crash", [] { ::raise(SIGSEGV); return std::string("unreachable"); }, milliseconds(30'000),
         "ended by signal 11: Segmentation fault"},
        {"an abort", [] { ::abort(); return std::string(); }, milliseconds(30'000), "ended by signal 6: Aborted"},
        {"an exception", []() -> std::string { throw std::runtime_error("thrown"); }, milliseconds(30'000),
         "exited with code 70"},
        {"an exit of its own", [] { ::_exit(3); return std::string(); }, milliseconds(30'000), "exited with code 3"},
        {"a hang",
         [] {
             for (;;) {
                 ::pause();
             }
             return std::string();
         },
         milliseconds(200), "took longer than 200 ms and was stopped"},
        {"too much output", [] { return std::string(kOutputLimit + 1, 'x'); }, milliseconds(30'000),
         "sent more than 1048576 bytes and was stopped"},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const ChildProcessResult result = RunInChildProcess(c.work, c.time_limit, kOutputLimit);
        EXPECT_FALSE(result.finished) << c.what;
        EXPECT_EQ(result.failure, c.failure) << c.what;
        EXPECT_EQ(result.output, "") << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.what;
    }
}

TEST(ChildProcess, TheParentsBufferedOutputIsNotWrittenByTheChild) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("parent", file);  // still in the stream's buffer
    const ChildProcessResult result = RunInChildProcess([] { return std::string("done"); }, milliseconds(30'000), 16);
    ASSERT_TRUE(result.finished) << result.failure;
    std::rewind(file);
    char text[32] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 6u);
    EXPECT_STREQ(text, "parent");
    std::fclose(file);
}

}  // namespace
}  // namespace dormiscope::symbols
