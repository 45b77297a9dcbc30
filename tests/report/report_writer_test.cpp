#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "report/report_writer.h"
#include "support/log_capture.h"
#include "support/temporary_directory.h"

namespace dormiscope {
namespace {

struct ThreadSpec {
    std::uint32_t thread_id;
    std::map<std::int64_t, std::uint64_t> buckets;
    std::set<std::int64_t> significant;
};

class ReportBuilder {
public:
    ReportBuilder& Process(std::uint32_t process_id, std::string name, const std::vector<ThreadSpec>& threads) {
        ProcessEntry& process = model_.ProcessList[process_id];
        process.ProcessId = process_id;
        process.ImageFileName = std::move(name);
        for (const ThreadSpec& planned : threads) {
            ThreadEntry& thread = process.threads[next_sequence_];
            thread.ProcessId = process_id;
            thread.TThreadId = planned.thread_id;
            thread.sequence = next_sequence_++;
            HISTOGRAM::BucketMap buckets;
            for (const auto& [value, count] : planned.buckets) {
                buckets.try_emplace(value, value, count);
            }
            thread.period_histogram.SetBuckets(std::move(buckets), L"ms");
            thread.significant_periods = planned.significant;
        }
        return *this;
    }

    const TraceModel& Model() const { return model_; }

    std::wstring Report() const {
        std::wostringstream out;
        WriteReport(out, model_);
        return out.str();
    }

private:
    TraceModel model_;
    std::uint64_t next_sequence_ = 0;
};

std::wstring Lines(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const std::wstring& line : lines) {
        text += line + L"\r\n";
    }
    return text;
}

std::wstring Indent(std::size_t spaces, const std::wstring& text) {
    return std::wstring(spaces, L' ') + text;
}

// The lines of one reported thread; `last_line` closes it ("}" or "},").
std::vector<std::wstring> ThreadLines(const std::wstring& thread_id, const std::wstring& periodicity,
                                      const std::vector<std::wstring>& entries, const std::wstring& last_line) {
    std::vector<std::wstring> lines = {
        Indent(19, L"{"),
        Indent(20, L"\"threadID\":\"" + thread_id + L"\","),
        Indent(20, L"\"periodicity\":\"" + periodicity + L"\","),
        Indent(20, L"\"histogram\": ["),
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        lines.push_back(Indent(34, entries[i]) + (i + 1 < entries.size() ? L"," : std::wstring(20, L' ')));
    }
    lines.push_back(Indent(32, L"]"));
    lines.push_back(Indent(19, last_line));
    return lines;
}

std::vector<std::wstring> Concat(std::vector<std::vector<std::wstring>> parts) {
    std::vector<std::wstring> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(ReportWriterTest, WritesTheDocumentLayoutByteForByte) {
    ReportBuilder builder;
    builder.Process(4, "System", {{92, {{100, 12}}, {100}}, {84, {{11, 3}, {14, 7}}, {11, 14}}})
        .Process(720, "app.exe", {{96, {{20, 5}}, {20}}});

    const std::wstring expected = Lines(Concat({
        {L"{\"processes\":[", Indent(13, L"{"), Indent(15, L"\"name\":\"System\","), Indent(15, L"\"pid\":\"4\","),
         Indent(15, L"\"buckets\": [")},
        ThreadLines(L"84", L"15ms", {L"{\"10 ms\": 3}", L"{\"15 ms\": 7}"}, L"},"),
        ThreadLines(L"92", L"100ms", {L"{\"100 ms\": 12}"}, L"}"),
        {Indent(19, L"]"), Indent(11, L"},"), Indent(14, L"{"), Indent(15, L"\"name\":\"app.exe\","),
         Indent(15, L"\"pid\":\"720\","), Indent(15, L"\"buckets\": [")},
        ThreadLines(L"96", L"20ms", {L"{\"20 ms\": 5}"}, L"}"),
        {Indent(19, L"]"), Indent(11, L"}]"), L"}"},
    }));
    EXPECT_EQ(builder.Report(), expected);
}

TEST(ReportWriterTest, WithoutAnyBucketsWritesOnlyTheFrame) {
    const std::wstring frame = L"{\"processes\":[\r\n]\r\n}\r\n";
    EXPECT_EQ(ReportBuilder().Report(), frame);

    ReportBuilder builder;
    builder.Process(4, "System", {{8, {}, {}}, {12, {}, {}}}).Process(8, "idle.exe", {});
    EXPECT_EQ(builder.Report(), frame);
}

// The program writes the report through a wide file stream in binary mode:
// on Windows neither the C runtime's text mode (CR before every LF) nor its
// wide conversion may change a byte of the ASCII document.
TEST(ReportWriterTest, AReportFileHoldsTheDocumentsBytesUnchanged) {
    ReportBuilder builder;
    builder.Process(4, "System", {{92, {{100, 12}}, {100}}}).Process(720, "caf\xC3\xA9.exe", {{96, {{20, 5}}, {20}}});
    const std::wstring document = builder.Report();
    const testing::TemporaryDirectory directory;
    const std::filesystem::path path = directory / "report.json";
    {
        std::wofstream report(path, std::ios::out | std::ios::trunc | std::ios::binary);
        WriteReport(report, builder.Model());
    }
    EXPECT_EQ(testing::ReadFile(path), std::string(document.begin(), document.end()));
}

// Lines of the report that hold `marker`, in order.
std::vector<std::wstring> LinesWith(const std::wstring& report, const std::wstring& marker) {
    std::vector<std::wstring> found;
    std::wistringstream in(report);
    for (std::wstring line; std::getline(in, line);) {
        if (line.find(marker) != std::wstring::npos) {
            found.push_back(line);
        }
    }
    return found;
}

TEST(ReportWriterTest, OrdersProcessesBySmallestSignificantPeriodAndIndentsLaterOnes) {
    ReportBuilder builder;
    builder.Process(2, "quiet.exe", {{20, {}, {}}})
        .Process(4, "slow.exe", {{40, {{500, 12}}, {500}}, {41, {{1000, 12}}, {1000}}})
        .Process(8, "fast.exe", {{80, {{100, 12}}, {100}}, {81, {{4, 12}}, {4}}})
        .Process(16, "middle.exe", {{160, {{30, 12}}, {30}}});
    const std::wstring report = builder.Report();

    EXPECT_EQ(LinesWith(report, L"\"pid\""),
              (std::vector<std::wstring>{Indent(15, L"\"pid\":\"8\",\r"), Indent(15, L"\"pid\":\"16\",\r"),
                                         Indent(15, L"\"pid\":\"4\",\r")}));
    EXPECT_EQ(LinesWith(report, L"{\r"),
              (std::vector<std::wstring>{Indent(13, L"{\r"), Indent(19, L"{\r"), Indent(19, L"{\r"),
                                         Indent(14, L"{\r"), Indent(19, L"{\r"), Indent(14, L"{\r"),
                                         Indent(19, L"{\r"), Indent(19, L"{\r")}));
    // Threads follow their smallest significant period, not their sequence.
    EXPECT_EQ(LinesWith(report, L"threadID"),
              (std::vector<std::wstring>{Indent(20, L"\"threadID\":\"81\",\r"), Indent(20, L"\"threadID\":\"80\",\r"),
                                         Indent(20, L"\"threadID\":\"160\",\r"), Indent(20, L"\"threadID\":\"40\",\r"),
                                         Indent(20, L"\"threadID\":\"41\",\r")}));
}

TEST(ReportWriterTest, KeepsTheOrderOfTheTablesAmongEqualKeys) {
    ReportBuilder builder;
    for (std::uint32_t process_id = 1; process_id <= 6; ++process_id) {
        builder.Process(process_id, std::to_string(process_id) + ".exe",
                        {{process_id * 10, {{15, 12}}, {15}}, {process_id * 10 + 1, {{15, 12}}, {15}}});
    }
    std::vector<std::wstring> expected;
    for (const auto& [process_id, process] : builder.Model().ProcessList) {
        expected.push_back(Indent(15, L"\"pid\":\"" + std::to_wstring(process_id) + L"\",\r"));
    }
    EXPECT_EQ(LinesWith(builder.Report(), L"\"pid\""), expected);
}

TEST(ReportWriterTest, ReportsEachLargestSignificantPeriodOncePerProcess) {
    ReportBuilder builder;
    builder.Process(4, "a.exe", {{1, {{10, 6}, {20, 6}}, {10, 20}}, {2, {{20, 12}}, {20}}, {3, {{30, 12}}, {30}}})
        .Process(8, "b.exe", {{4, {{20, 12}}, {20}}});
    const std::wstring report = builder.Report();

    EXPECT_EQ(LinesWith(report, L"threadID"),
              (std::vector<std::wstring>{Indent(20, L"\"threadID\":\"1\",\r"), Indent(20, L"\"threadID\":\"3\",\r"),
                                         Indent(20, L"\"threadID\":\"4\",\r")}));
}

TEST(ReportWriterTest, SkipsThreadsWithoutBucketsAndProcessesLeftEmpty) {
    ReportBuilder builder;
    builder.Process(4, "a.exe", {{1, {}, {}}, {2, {{15, 12}}, {15}}}).Process(8, "b.exe", {{3, {}, {}}});
    const std::wstring expected = Lines(Concat({
        {L"{\"processes\":[", Indent(13, L"{"), Indent(15, L"\"name\":\"a.exe\","), Indent(15, L"\"pid\":\"4\","),
         Indent(15, L"\"buckets\": [")},
        ThreadLines(L"2", L"15ms", {L"{\"15 ms\": 12}"}, L"}"),
        {Indent(19, L"]"), Indent(11, L"}]"), L"}"},
    }));
    EXPECT_EQ(builder.Report(), expected);
}

TEST(ReportWriterTest, WritesSummedCountsAsTheirLowSigned32Bits) {
    ReportBuilder builder;
    builder.Process(4, "a.exe",
                    {{1, {{1, (std::uint64_t{1} << 32) + 5}, {2, std::uint64_t{1} << 31}, {7, 3}}, {1, 2}}});
    const std::wstring report = builder.Report();
    EXPECT_EQ(LinesWith(report, L" ms\""),
              (std::vector<std::wstring>{Indent(34, L"{\"1 ms\": -2147483643},\r"),
                                         Indent(34, L"{\"8 ms\": 3}" + std::wstring(20, L' ') + L"\r")}));
}

TEST(ReportWriterTest, EscapesNamesSoTheReportStaysJson) {
    ReportBuilder builder;
    builder.Process(4, "a\"b\\c\x01\xe9\xf0\x9f\x98\x80", {{1, {{15, 12}}, {15}}});
    EXPECT_EQ(LinesWith(builder.Report(), L"\"name\""),
              (std::vector<std::wstring>{Indent(15, L"\"name\":\"a\\\"b\\\\c\\u0001\\u00e9\\ud83d\\ude00\",\r")}));
}

TEST(ReportWriterTest, LogsEveryThreadAndTheHistogramOfEachWrittenOne) {
    testing::LogCapture log;
    ReportBuilder builder;
    builder.Process(4, "a.exe", {{84, {{11, 3}, {14, 7}}, {11, 14}}, {85, {}, {}}, {86, {{14, 12}}, {14}}});
    builder.Report();

    // Thread order 84, 86, 85; 86 repeats 84's largest significant period and 85 has no buckets.
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "[DEBUG] Generating Histogram for TThreadId :84",
                               "[DEBUG] thread_entry.period_histogram.GetNumBuckets() :2",
                               "[DEBUG]  histogram_map :2Thread ID84",
                               "[DEBUG] Generating Histogram for TThreadId :86",
                               "[DEBUG] thread_entry.period_histogram.GetNumBuckets() :1",
                               "[DEBUG] Generating Histogram for TThreadId :85",
                               "[DEBUG] thread_entry.period_histogram.GetNumBuckets() :0",
                           }));
}

}  // namespace
}  // namespace dormiscope
