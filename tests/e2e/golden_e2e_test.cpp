// Whole runs on small written traces, each report compared byte for byte with
// its expected file in golden/. With DORMISCOPE_UPDATE_GOLDEN=1 the run
// rewrites the expected file instead; check every changed file by hand
// against the report layout before keeping it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "report_json.h"
#include "support/kernel_trace.h"

namespace dormiscope::testing {
namespace {

constexpr std::uint64_t kMillisecond = 10'000;  // in the trace's 100-ns units
// How long each wake-up runs: far below 1 ms, so the idle thread, switched out
// for just that long, never keeps an interval.
constexpr std::uint64_t kRunTime = 100;
constexpr std::uint32_t kIdleThread = 0;

// `count` off-processor intervals of `length` each.
struct Repeated {
    std::size_t count;
    std::uint64_t length;
};

// An idle machine: the Idle process, and threads that each wake on a processor
// of their own after exactly the off-processor intervals given, group after
// group (the first one measured from the trace start), run briefly and go back
// to sleep.
class Machine {
public:
    Machine() { trace_.ProcessRundown(0, "Idle").ThreadRundown(0, kIdleThread); }

    Machine& Process(std::uint32_t process_id, const std::string& name) {
        trace_.ProcessRundown(process_id, name);
        return *this;
    }

    Machine& Thread(std::uint32_t process_id, std::uint32_t thread_id, std::initializer_list<Repeated> intervals) {
        trace_.ThreadRundown(process_id, thread_id);
        const std::uint32_t processor = next_processor_++;
        std::uint64_t now = 0;
        for (const Repeated& group : intervals) {
            for (std::size_t i = 0; i < group.count; ++i) {
                now += group.length;
                trace_.ContextSwitch(now, thread_id, kIdleThread, processor);
                now += kRunTime;
                trace_.ContextSwitch(now, kIdleThread, thread_id, processor);
            }
        }
        return *this;
    }

    std::filesystem::path Write(const std::filesystem::path& file) const { return trace_.Write(file); }

private:
    KernelTrace trace_;
    std::uint32_t next_processor_ = 0;
};

struct GoldenCase {
    std::string name;  // also the expected file's name, golden/<name>.json
    std::function<void(Machine&)> describe;
};

void PrintTo(const GoldenCase& golden_case, std::ostream* out) {
    *out << golden_case.name;
}

const std::vector<GoldenCase>& GoldenCases() {
    static const std::vector<GoldenCase> cases = {
        // Eleven intervals are too few to cluster; intervals just outside
        // [1 ms, 1 s] are never kept. No process is written.
        {"no_buckets",
         [](Machine& machine) {
             machine.Process(720, "app.exe")
                 .Thread(720, 96, {{11, 15 * kMillisecond}})
                 .Thread(720, 100, {{10, kMillisecond - 1}, {10, 1000 * kMillisecond + 1}})
                 .Thread(720, 104, {});
         }},
        // The 15.625 ms system timer: its bucket is 15 ms.
        {"single_periodic_thread",
         [](Machine& machine) { machine.Process(720, "app.exe").Thread(720, 96, {{40, 156'250}}); }},
        // Ordered by smallest significant period (4, 20, 1000 ms), not by pid.
        {"process_order",
         [](Machine& machine) {
             machine.Process(4, "System")
                 .Thread(4, 8, {{12, 1000 * kMillisecond}})
                 .Process(500, "svchost.exe")
                 .Thread(500, 504, {{12, 20 * kMillisecond}})
                 .Process(900, "audiodg.exe")
                 .Thread(900, 904, {{12, 4 * kMillisecond}});
         }},
        // Thread 11's largest significant period (100 ms) was already reported
        // for thread 10 of its process; thread 20 has it too, in another process.
        {"equal_largest_periods",
         [](Machine& machine) {
             machine.Process(700, "app.exe")
                 .Thread(700, 11, {{12, 100 * kMillisecond}})
                 .Thread(700, 10, {{10, 10 * kMillisecond}, {2, 100 * kMillisecond}})
                 .Process(800, "other.exe")
                 .Thread(800, 20, {{12, 100 * kMillisecond}});
         }},
        // Thread 96 has twelve intervals and is written; thread 100 and the
        // whole of process 4 have eleven and are not.
        {"few_periods",
         [](Machine& machine) {
             machine.Process(720, "app.exe")
                 .Thread(720, 96, {{12, 15 * kMillisecond}})
                 .Thread(720, 100, {{11, 20 * kMillisecond}})
                 .Process(4, "System")
                 .Thread(4, 8, {{11, 1000 * kMillisecond}});
         }},
        // Buckets 1, 9, 12 and 20 ms (9 ms lies halfway between two seeds and
        // stays with the lower): 9 and 12 add up in class 10 (10 entries), yet
        // the periodicity goes to the single bucket weighing most, 20 ms × 3.
        // A second thread of the process follows after a "},".
        {"histogram_entries",
         [](Machine& machine) {
             machine.Process(1344, "audiodg.exe")
                 .Thread(1344, 1352, {{12, 500 * kMillisecond}})
                 .Thread(1344, 1348,
                         {{8, 1 * kMillisecond}, {5, 9 * kMillisecond}, {5, 12 * kMillisecond}, {3, 20 * kMillisecond}});
         }},
        // A quote, a backslash, control characters, two bytes that are not
        // UTF-8 (taken as Latin-1), a two-byte and a four-byte UTF-8 character.
        {"escaped_name",
         [](Machine& machine) {
             machine.Process(3120, "say \"hi\"\\\x01\t caf\xE9\xFF \xC3\xA9 \xF0\x9F\x98\x80.exe")
                 .Thread(3120, 3124, {{12, 50 * kMillisecond}});
         }},
    };
    return cases;
}

// Line ends and other invisible bytes made visible, for a diff one can read.
std::string Visible(const std::string& line) {
    std::string shown;
    for (const char character : line) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte == '\r') {
            shown += "\\r";
        } else if (byte == '\n') {
            shown += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        } else {
            shown += character;
        }
    }
    return shown;
}

std::vector<std::string> SplitAfterLineFeeds(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, next - start));
        start = next;
    }
    return lines;
}

// Both texts line by line: "  " for equal lines, "- " expected, "+ " actual.
std::string LineDiff(const std::string& expected, const std::string& actual) {
    const std::vector<std::string> want = SplitAfterLineFeeds(expected);
    const std::vector<std::string> got = SplitAfterLineFeeds(actual);
    std::ostringstream diff;
    for (std::size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
        const bool has_want = i < want.size();
        const bool has_got = i < got.size();
        if (has_want && has_got && want[i] == got[i]) {
            diff << "  " << Visible(want[i]) << '\n';
            continue;
        }
        if (has_want) {
            diff << "- " << Visible(want[i]) << '\n';
        }
        if (has_got) {
            diff << "+ " << Visible(got[i]) << '\n';
        }
    }
    return diff.str();
}

bool UpdatingGoldenFiles() {
    const char* update = std::getenv("DORMISCOPE_UPDATE_GOLDEN");
    return update != nullptr && std::string(update) == "1";
}

class GoldenReport : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenReport, MatchesTheExpectedFileByteForByte) {
    const TemporaryDirectory directory;
    Machine machine;
    GetParam().describe(machine);
    const auto trace = machine.Write(directory / "trace.etl");

    const EndToEndRun run = RunEmulated(directory, "GenuineVexor", {"-i", trace.string(), "-o", "report.json"});
    ASSERT_EQ(run.result.exit_code, 0) << run.result.standard_error;
    EXPECT_EQ(run.result.standard_error, "");
    const std::string report = ReadFile(directory / "report.json");
    EXPECT_TRUE(ParseJson(report).has_value()) << "not valid JSON:\n" << report;

    const std::filesystem::path golden = std::filesystem::path(DORMISCOPE_GOLDEN_DIR) / (GetParam().name + ".json");
    if (UpdatingGoldenFiles()) {
        std::ofstream(golden, std::ios::binary | std::ios::trunc) << report;
        GTEST_SKIP() << "rewrote " << golden;
    }
    ASSERT_TRUE(std::filesystem::exists(golden)) << golden << " is missing; DORMISCOPE_UPDATE_GOLDEN=1 writes it";
    const std::string expected = ReadFile(golden);
    EXPECT_TRUE(report == expected) << "report differs from " << golden << " (- expected, + actual):\n"
                                    << LineDiff(expected, report);
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenReport, ::testing::ValuesIn(GoldenCases()),
                         [](const ::testing::TestParamInfo<GoldenCase>& info) { return info.param.name; });

// The expected file's escapes decode back to the name's characters (Latin-1
// for the bytes that are not UTF-8, a surrogate pair beyond U+FFFF), so a
// careless rewrite of that file cannot pass for a correct one.
TEST(GoldenReportName, EscapedNameReadsBackAsTheNamesCharacters) {
    const std::string report = ReadFile(std::filesystem::path(DORMISCOPE_GOLDEN_DIR) / "escaped_name.json");
    const auto threads = ReportedThreads(report);
    ASSERT_TRUE(threads.has_value());
    ASSERT_EQ(threads->size(), 1u);
    EXPECT_EQ(threads->front().process_name, u"say \"hi\"\\\x01\t caf\u00e9\u00ff \u00e9 \U0001F600.exe");
}

}  // namespace
}  // namespace dormiscope::testing
