#include "report/report_writer.h"

#include <cstdint>
#include <string>

#include "analysis/period_class.h"
#include "log/logger.h"
#include "report/name_text.h"
#include "report/report_selection.h"

namespace dormiscope {

namespace {

// The same bytes on every system: no text-mode translation is relied on.
void EndLine(std::wostream& out) {
    out << L"\r\n" << std::flush;
}

std::wstring Spaces(std::size_t count) {
    return std::wstring(count, L' ');
}

void WriteProcessHeader(std::wostream& out, const ProcessEntry& process, bool& first_process) {
    if (first_process) {
        first_process = false;
        out << Spaces(13) << L'{';
    } else {
        out << L',';
        EndLine(out);
        out << Spaces(14) << L'{';
    }
    EndLine(out);
    out << Spaces(15) << L"\"name\":\"" << JsonStringContent(NameText(process.ImageFileName)) << L"\",";
    EndLine(out);
    out << Spaces(15) << L"\"pid\":\"" << process.ProcessId << L"\",";
    EndLine(out);
    out << Spaces(15) << L"\"buckets\": [";
    EndLine(out);
}

// The thread's entry from its opening brace to its closing brace, without a
// line end after it.
void WriteThread(std::wostream& out, const ThreadEntry& thread) {
    out << Spaces(19) << L'{';
    EndLine(out);
    const HISTOGRAM::BucketMap histogram_map = thread.period_histogram.Buckets();
    Logger::Instance().Stream(LEVEL_DEBUG) << " histogram_map :" << static_cast<std::uint64_t>(histogram_map.size())
                                           << "Thread ID" << thread.TThreadId << "\n";
    const BucketClasses classes = ClassifyBuckets(histogram_map);

    out << Spaces(20) << L"\"threadID\":\"" << thread.TThreadId << L"\",";
    EndLine(out);
    out << Spaces(20) << L"\"periodicity\":\"" << classes.periodicity << L"ms\",";
    EndLine(out);
    out << Spaces(20) << L"\"histogram\": [";
    EndLine(out);
    bool first_entry = true;
    for (const auto& [period_class, count] : classes.class_bins) {
        if (!first_entry) {
            out << L',';
            EndLine(out);
        }
        first_entry = false;
        // The count is written as its low 32 bits, signed.
        out << Spaces(34) << L"{\"" << period_class << L" ms\": " << static_cast<std::int32_t>(count) << L'}';
    }
    out << Spaces(20);
    EndLine(out);
    out << Spaces(32) << L']';
    EndLine(out);
    out << Spaces(19) << L'}';
}

}  // namespace

std::wostream& WriteReport(std::wostream& out, const TraceModel& model) {
    out << L"{\"processes\":" << L'[';
    EndLine(out);
    bool first_process = true;
    for (const ProcessSelection& selection : SelectReportedThreads(model)) {
        bool header_pending = true;
        bool first_thread = true;
        for (const auto& [thread, verdict] : selection.threads) {
            Logger::Instance().Stream(LEVEL_DEBUG) << "Generating Histogram for TThreadId :" << thread->TThreadId
                                                   << "\n";
            Logger::Instance().Stream(LEVEL_DEBUG) << "thread_entry.period_histogram.GetNumBuckets() :"
                                                   << thread->period_histogram.GetNumBuckets() << "\n";
            if (verdict == ReportVerdict::kNotPeriodic) {
                continue;
            }
            if (header_pending) {
                WriteProcessHeader(out, *selection.process, first_process);
                header_pending = false;
            }
            if (verdict == ReportVerdict::kRepeatsLargestPeriod) {
                continue;
            }
            if (first_thread) {
                first_thread = false;
            } else {
                out << L',';
                EndLine(out);
            }
            WriteThread(out, *thread);
        }
        if (!header_pending) {
            EndLine(out);
            out << Spaces(19) << L']';
            EndLine(out);
            out << Spaces(11) << L'}';
        }
    }
    out << L']';
    EndLine(out);
    out << L'}';
    EndLine(out);
    return out;
}

}  // namespace dormiscope
