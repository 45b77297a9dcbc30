#include "view/symbols/pdb_reading_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

namespace dormiscope::symbols {
namespace {

using std::chrono::milliseconds;

// Answers with the serving process's id, so a test sees which child served.
PdbReading Answer(PdbReading::Outcome outcome) {
    PdbReading reading;
    reading.outcome = outcome;
    reading.problem = std::to_string(::getpid());
    return reading;
}

// What each request's text makes the child do.
PdbReading Behave(const PdbReadingRequest& request) {
    const std::string& what = request.source;
    if (what == "crash") {
        ::raise(SIGSEGV);
    } else if (what == "abort") {
        ::abort();
    } else if (what == "throw") {
        throw std::runtime_error("thrown");
    } else if (what == "exit") {
        ::_exit(3);
    } else if (what == "hang") {
        for (;;) {
            ::pause();
        }
    } else if (what == "damaged") {
        return Answer(PdbReading::Outcome::kUnreadable);
    } else if (what == "large") {
        PdbReading reading = Answer(PdbReading::Outcome::kRead);
        std::vector<FunctionRange> functions;
        for (std::uint32_t index = 0; index < 100'000; ++index) {
            functions.push_back({index * 16, index * 16 + 8, "function_" + std::to_string(index)});
        }
        reading.functions = FunctionTable(std::move(functions), {});
        return reading;
    }
    return Answer(PdbReading::Outcome::kOtherIdentity);
}

TEST(PdbReadingProcess, OneChildServesReadingAfterReadingUntilOneMeetsDamage) {
    PdbReadingProcess process(Behave);
    const PdbReading first = process.Read({"fine", {}});
    ASSERT_EQ(first.outcome, PdbReading::Outcome::kOtherIdentity);
    EXPECT_NE(first.problem, std::to_string(::getpid()));

    const PdbReading large = process.Read({"large", {}});  // far beyond a socket's buffer
    ASSERT_EQ(large.outcome, PdbReading::Outcome::kRead);
    EXPECT_EQ(large.problem, first.problem);
    EXPECT_EQ(large.functions.size(), 100'000u);
    EXPECT_EQ(large.functions.Lookup(99'999 * 16 + 7), (FunctionOffset{"function_99999", 7}));

    const PdbReading damaged = process.Read({"damaged", {}});
    EXPECT_EQ(damaged.problem, first.problem);
    EXPECT_NE(process.Read({"fine", {}}).problem, first.problem);
}

TEST(PdbReadingProcess, EveryWayTheChildCanFailIsReportedAndTheNextReadingWorks) {
    const struct {
        const char* what;
        std::string problem;
    } cases[] = {
        {"crash", "its reading process ended by signal 11: Segmentation fault"},
        {"abort", "its reading process ended by signal 6: Aborted"},
        {"throw", "its reading process exited with code 71"},
        {"exit", "its reading process exited with code 3"},
        {"hang", "its reading process took longer than 300 ms and was stopped"},
    };
    for (const auto& c : cases) {
        for (const bool after_another : {false, true}) {
            PdbReadingProcess process(Behave, milliseconds(300));
            if (after_another) {
                ASSERT_EQ(process.Read({"fine", {}}).outcome, PdbReading::Outcome::kOtherIdentity);
            }
            const PdbReading failed = process.Read({c.what, {}});
            EXPECT_EQ(failed.outcome, PdbReading::Outcome::kReaderFailed) << c.what;
            EXPECT_EQ(failed.problem, c.problem) << c.what;
            EXPECT_EQ(failed.functions.size(), 0u) << c.what;
            EXPECT_EQ(process.Read({"fine", {}}).outcome, PdbReading::Outcome::kOtherIdentity) << c.what;
        }
    }
}

TEST(PdbReadingProcess, TheParentsBufferedOutputIsNotWrittenByTheChild) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fputs("parent", file);  // still in the stream's buffer
    {
        PdbReadingProcess process(Behave);
        EXPECT_EQ(process.Read({"fine", {}}).outcome, PdbReading::Outcome::kOtherIdentity);
        EXPECT_EQ(process.Read({"crash", {}}).outcome, PdbReading::Outcome::kReaderFailed);
    }
    std::rewind(file);
    char text[32] = {};
    EXPECT_EQ(std::fread(text, 1, sizeof text, file), 6u);
    EXPECT_STREQ(text, "parent");
    std::fclose(file);
}

// A view killed while its child is stuck in a hostile file takes the child
// with it, instead of leaving it spinning under init.
TEST(PdbReadingProcess, TheChildEndsWithAKilledView) {
    // Orphans come back to this process, so the child's end can be awaited.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t view = ::fork();
    ASSERT_GE(view, 0);
    if (view == 0) {
        ::close(report[0]);
        PdbReadingProcess process([&report](const PdbReadingRequest&) -> PdbReading {
            const pid_t stuck = ::getpid();
            if (::write(report[1], &stuck, sizeof stuck) != sizeof stuck) {
                ::_exit(1);
            }
            for (;;) {
                ::pause();
            }
        });
        process.Read({"hostile", {}});
        ::_exit(0);
    }
    ::close(report[1]);
    pid_t child = 0;
    const bool reported = ::read(report[0], &child, sizeof child) == sizeof child;
    ::close(report[0]);
    ::kill(view, SIGKILL);
    ::waitpid(view, nullptr, 0);
    ASSERT_TRUE(reported);

    int status = 0;
    pid_t ended = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    if (ended == 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_EQ(ended, child) << "the child outlived the view";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

}  // namespace
}  // namespace dormiscope::symbols
