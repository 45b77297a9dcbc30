// An output that names the trace itself, however it is spelled, is refused by
// every program before anything is written; the trace keeps its bytes. An
// output of its own still works.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_run.h"

namespace dormiscope::testing {
namespace {

struct Spelling {
    std::string label;
    std::string output;  // as given on the command line, in the directory holding t.etl
    bool is_trace;
};

const std::vector<Spelling>& Spellings() {
    static const std::vector<Spelling> spellings = {
        {"the same name", "t.etl", true},
        {"a relative path through another folder", "sub/../t.etl", true},
        {"an absolute path", "", true},  // filled in with the directory's
        {"a symbolic link", "link.etl", true},
        {"a file of its own", "out.txt", false},
    };
    return spellings;
}

// A fresh directory holding the sample as t.etl, a folder and a link to it.
void Prepare(const TemporaryDirectory& directory) {
    std::filesystem::copy_file(DORMISCOPE_IDLE_MACHINE_SAMPLE, directory / "t.etl");
    std::filesystem::create_directory(directory / "sub");
    std::filesystem::create_symlink("t.etl", directory / "link.etl");
}

std::string OutputOf(const Spelling& spelling, const TemporaryDirectory& directory) {
    return spelling.output.empty() ? (directory / "t.etl").string() : spelling.output;
}

class OutputIsTraceEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(DORMISCOPE_IDLE_MACHINE_SAMPLE)) {
            GTEST_SKIP() << "the idle_machine_sample target writes " << DORMISCOPE_IDLE_MACHINE_SAMPLE;
        }
        sample_ = ReadFile(DORMISCOPE_IDLE_MACHINE_SAMPLE);
    }

    void ExpectTraceUnchanged(const TemporaryDirectory& directory) const {
        EXPECT_TRUE(ReadFile(directory / "t.etl") == sample_) << "the trace changed";
    }

    std::string sample_;
};

TEST_F(OutputIsTraceEndToEnd, DormiscopeRefusesAReportThatIsTheTrace) {
    for (const Spelling& spelling : Spellings()) {
        SCOPED_TRACE(spelling.label);
        const TemporaryDirectory directory;
        Prepare(directory);
        const EndToEndRun run =
            RunEmulated(directory, "GenuineVexor", {"-i", "t.etl", "-o", OutputOf(spelling, directory)});
        if (spelling.is_trace) {
            EXPECT_EQ(run.result.exit_code, 87);
            EXPECT_EQ(run.result.standard_error, "Report file is the trace file");
            EXPECT_FALSE(run.log_exists);
        } else {
            EXPECT_EQ(run.result.exit_code, 0) << run.result.standard_error;
            EXPECT_NE(ReadFile(directory / "out.txt").find("\"threadID\""), std::string::npos);
        }
        ExpectTraceUnchanged(directory);
    }
}

// The log is emptied in the working directory: a trace of that name would go with it.
TEST_F(OutputIsTraceEndToEnd, DormiscopeRefusesATraceThatIsItsLog) {
    const TemporaryDirectory directory;
    std::filesystem::copy_file(DORMISCOPE_IDLE_MACHINE_SAMPLE, directory / "dormiscope.log");
    const EndToEndRun run = RunEmulated(directory, "GenuineVexor", {"-i", "dormiscope.log", "-o", "report.json"});
    EXPECT_EQ(run.result.exit_code, 87);
    EXPECT_EQ(run.result.standard_error, "Log file is the trace file");
    EXPECT_TRUE(run.log == sample_) << "the trace changed";
    EXPECT_FALSE(std::filesystem::exists(directory / "report.json"));
}

TEST_F(OutputIsTraceEndToEnd, TheViewRefusesAPageDocumentOrExportThatIsTheTrace) {
    for (const Spelling& spelling : Spellings()) {
        for (const std::string output_switch : {"-o", "--json", "--folded", "--csv"}) {
            SCOPED_TRACE(spelling.label + " as " + output_switch);
            const TemporaryDirectory directory;
            Prepare(directory);
            const std::string output = OutputOf(spelling, directory);
            std::vector<std::string> arguments = {DORMISCOPE_VIEW_BINARY, "-i", "t.etl", "-o",
                                                  output_switch == "-o" ? output : "wakes.html"};
            if (output_switch != "-o") {
                arguments.insert(arguments.end(), {output_switch, output});
            }
            const ProcessResult run = RunProcess(arguments, directory.path());
            if (spelling.is_trace) {
                EXPECT_EQ(run.exit_code, 2);
                EXPECT_EQ(run.standard_error,
                          "dormiscope-view: " + output + " is the trace itself; write the output elsewhere\n");
                EXPECT_FALSE(std::filesystem::exists(directory / "wakes.html"));
            } else {
                EXPECT_EQ(run.exit_code, 0) << run.standard_error;
                EXPECT_TRUE(std::filesystem::exists(directory / "out.txt"));
            }
            ExpectTraceUnchanged(directory);
        }
    }
}

// `>` empties the file before etwdump starts; `>>` would add to it, and is refused.
TEST_F(OutputIsTraceEndToEnd, EtwdumpRefusesToAppendToTheTrace) {
    for (const Spelling& spelling : Spellings()) {
        SCOPED_TRACE(spelling.label);
        const TemporaryDirectory directory;
        Prepare(directory);
        const ProcessResult run = RunProcess(
            {"/bin/sh", "-c", "exec \"$0\" --table t.etl >> \"$1\"", DORMISCOPE_ETWDUMP_BINARY,
             OutputOf(spelling, directory)},
            directory.path());
        if (spelling.is_trace) {
            EXPECT_EQ(run.exit_code, 2);
            EXPECT_EQ(run.standard_error,
                      "etwdump: standard output is the trace t.etl itself; redirect it elsewhere\n");
        } else {
            EXPECT_EQ(run.exit_code, 0) << run.standard_error;
            EXPECT_NE(ReadFile(directory / "out.txt").find("CSwitch v2"), std::string::npos);
        }
        ExpectTraceUnchanged(directory);
    }
}

}  // namespace
}  // namespace dormiscope::testing
