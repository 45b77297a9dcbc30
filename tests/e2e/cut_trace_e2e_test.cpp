// A trace cut short, as a copy that stopped early would be: cut where a buffer
// ends, the three programs read it and say it is incomplete; cut inside a
// buffer, they refuse it naming the place. None of them changes the trace.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_run.h"
#include "report_json.h"

namespace dormiscope::testing {
namespace {

constexpr std::size_t kBufferSize = 0x10000;  // the bundled sample's

struct Cut {
    std::string label;
    std::size_t buffers;      // whole buffers kept
    std::size_t extra_bytes;  // then this much of the next one
};

// The wakes per second of the sample's 1 kHz audio thread's process, from the view's JSON.
double AudioWakesPerSecond(const std::string& json) {
    const std::string key = "\"name\":\"audiodg.exe\",";
    const std::size_t process = json.find(key);
    const std::size_t rate = json.find("\"wakes_per_s\":", process);
    if (process == std::string::npos || rate == std::string::npos) {
        return 0;
    }
    return std::strtod(json.c_str() + rate + 14, nullptr);
}

TEST(CutTraceEndToEnd, BoundaryCutsAreReadAndFlaggedMidBufferCutsAreRefused) {
    const std::filesystem::path sample = DORMISCOPE_IDLE_MACHINE_SAMPLE;
    if (!std::filesystem::exists(sample)) {
        GTEST_SKIP() << sample << " is not there; the idle_machine_sample target writes it";
    }
    const std::string whole = ReadFile(sample);
    ASSERT_EQ(whole.size() % kBufferSize, 0u) << "the sample is whole buffers";
    const std::size_t buffers = whole.size() / kBufferSize;
    ASSERT_GT(buffers, 64u);
    const std::string counted = std::to_string(buffers);
    const std::vector<Cut> cuts = {
        {"10 buffers", 10, 0},
        {"64 buffers", 64, 0},
        {"all buffers but the last", buffers - 1, 0},
        {"inside buffer 11", 10, 5000},
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.label);
        const TemporaryDirectory directory;
        const std::string bytes = whole.substr(0, cut.buffers * kBufferSize + cut.extra_bytes);
        std::ofstream(directory / "cut.etl", std::ios::binary) << bytes;
        const bool boundary = cut.extra_bytes == 0;
        const std::string kept = std::to_string(cut.buffers);
        const std::string damage = "damaged at offset " + std::to_string(cut.buffers * kBufferSize) +
                                   " (the file ends inside a buffer";

        const EndToEndRun report = RunEmulated(directory, "GenuineVexor", {"-i", "cut.etl", "-o", "report.json"});
        if (boundary) {
            EXPECT_EQ(report.result.exit_code, 0) << report.result.standard_error;
            EXPECT_EQ(report.result.standard_error, "");
            EXPECT_NE(report.log.find("[WARNING] Trace file holds only " + kept + " of the " + counted +
                                      " buffers its header counts: the recording was cut short\n"),
                      std::string::npos)
                << report.log;
        } else {
            EXPECT_EQ(report.result.exit_code, 1392 & 0xFF);
            EXPECT_EQ(report.result.standard_error, "1392Failed in First Parsing");
        }

        const ProcessResult view = RunProcess(
            {DORMISCOPE_VIEW_BINARY, "-i", "cut.etl", "-o", "wakes.html", "--json", "wakes.json"}, directory.path());
        if (boundary) {
            ASSERT_EQ(view.exit_code, 0) << view.standard_error;
            const std::string json = ReadFile(directory / "wakes.json");
            EXPECT_NE(json.find("The file holds " + kept + " of the " + counted + " buffers its header counts"),
                      std::string::npos);
            // Over the time the events cover, not the header's 60 s.
            EXPECT_NEAR(AudioWakesPerSecond(json), 1000, 50) << json.substr(0, 600);
            // Processors none of whose buffers are left are marked, not shown as quiet.
            const auto document = ParseJson(json);
            ASSERT_TRUE(document.has_value());
            const JsonValue& without_events = *document->Member(u"trace")->Member(u"processors_without_events");
            if (cut.buffers == 10) {
                EXPECT_FALSE(without_events.items.empty()) << json.substr(0, 800);
            }
            const std::string page = ReadFile(directory / "wakes.html");
            for (const JsonValue& processor : without_events.items) {
                const std::string index(processor.text.begin(), processor.text.end());
                EXPECT_NE(page.find("processor " + index + ": no events recorded"), std::string::npos) << index;
            }
        } else {
            EXPECT_EQ(view.exit_code, 3);
            EXPECT_NE(view.standard_error.find("cannot read the trace cut.etl: " + damage), std::string::npos)
                << view.standard_error;
            EXPECT_FALSE(std::filesystem::exists(directory / "wakes.html"));
        }

        const ProcessResult dump = RunProcess({DORMISCOPE_ETWDUMP_BINARY, "--table", "cut.etl"}, directory.path());
        if (boundary) {
            EXPECT_EQ(dump.exit_code, 0) << dump.standard_error;
            EXPECT_NE(dump.standard_output.find("buffers: " + kept + " of the " + counted +
                                                " the header counts: the recording was cut short\n"),
                      std::string::npos)
                << dump.standard_output;
        } else {
            EXPECT_EQ(dump.exit_code, 1392 & 0xFF);
            EXPECT_NE(dump.standard_error.find(damage), std::string::npos) << dump.standard_error;
        }

        EXPECT_TRUE(ReadFile(directory / "cut.etl") == bytes) << "the trace changed";
    }
}

}  // namespace
}  // namespace dormiscope::testing
