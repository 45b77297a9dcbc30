#include "app/run.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "analysis/periodic_disturbances.h"
#include "app/command_line.h"
#include "app/vendor_check.h"
#include "log/logger.h"
#include "model/run_context.h"
#include "model/trace_passes.h"
#include "platform/system/native_text.h"
#include "platform/system/same_file.h"
#include "report/report_writer.h"

namespace dormiscope {

const std::string accepted_vendor = "GenuineVexor";

namespace {

// The log exists before the entry point runs.
Logger& logger = Logger::Instance();

void WriteToStandardError(const char* text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
}

int Stop(int exit_code) {
    logger.Close();
    return exit_code;
}

// The Windows system error code for a report file that would not open.
int OpenFailureCode(int error_number) {
    switch (error_number) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_OPEN_FAILED;
    }
}

int WriteFailure() {
    WriteToStandardError("Failed to write output file");
    logger.Log("Failed to write output file", LEVEL_ERROR);
    return Stop(ERROR_WRITE_FAULT);
}

}  // namespace

int RunDormiscope(const std::vector<std::wstring>& arguments) {
    RunContext run;
    const std::int32_t parse_status = ParseCommandLine(static_cast<int>(arguments.size()), arguments, run);
    if (parse_status != 0) {
        logger.Log("Missing Required Parameters", LEVEL_ERROR);
        return Stop(parse_status);
    }

    // Opening the log or the report would empty the trace if either were it.
    const std::filesystem::path trace = PathFromWide(run.input_path);
    if (IsSameFile(PathFromWide(run.output_path), trace)) {
        WriteToStandardError("Report file is the trace file");
        return Stop(ERROR_INVALID_PARAMETER);
    }
    if (IsSameFile(logger.file_name, trace)) {
        WriteToStandardError("Log file is the trace file");
        return Stop(ERROR_INVALID_PARAMETER);
    }

    logger.Configure(run.log_level);
    logger.Open();
    logger.Log("Parsing Process and Thread records...", LEVEL_INFO);

    if (!CheckProcessorVendor(accepted_vendor)) {
        logger.Log("Incorrect target architecture! Exiting", LEVEL_ERROR);
        WriteToStandardError("Incorrect target architecture");
        return Stop(-1);
    }
    logger.Log("Correct target architecture! Exiting", LEVEL_INFO);

    if (const std::uint32_t status = FirstPassParsing(run); status != 0) {
        WriteToStandardError("Failed in First Parsing");
        return Stop(static_cast<int>(status));
    }
    logger.Log("Parsing CSwitch records...", LEVEL_INFO);
    if (const std::uint32_t status = SecondPassParsing(run); status != 0) {
        WriteToStandardError("Failed in Second Parsing");
        return Stop(static_cast<int>(status));
    }

    logger.Stream(LEVEL_INFO) << "**** Computing periodic disturbances... ****" << "\n";
    logger.Stream(LEVEL_INFO) << "**** START Computing ****" << "\n";
    const auto thread_count = static_cast<std::int32_t>(run.model.ThreadList.size());
    if (thread_count == 0) {
        logger.Stream(LEVEL_ERROR) << "ThreadList size is zero" << "\n";
        WriteToStandardError("Processing failed as ThreadList size is zero");
        return Stop(1);
    }
    logger.Stream(LEVEL_INFO) << "ThreadList size is " << thread_count << "\n";
    logger.Stream(LEVEL_INFO) << "Processing each ThreadList data for computing Histogram" << "\n";

    ComputePeriodicDisturbances(run.model.ThreadList);

    // Binary mode: the writer ends every line with CR LF itself, on every system.
    errno = 0;
    std::wofstream report(PathFromWide(run.output_path), std::ios::out | std::ios::trunc | std::ios::binary);
    if (!report.is_open()) {
        const int failure = OpenFailureCode(errno);
        logger.Stream(LEVEL_ERROR) << "Failed to open file " << "\n";
        WriteToStandardError("Failed to open file");
        return Stop(failure);
    }
    WriteReport(report, run.model);
    if (!report.flush()) {
        return WriteFailure();
    }
    logger.Stream(LEVEL_INFO) << "Data saved to output file!" << "\n";
    report.close();
    if (report.fail()) {
        return WriteFailure();
    }

    logger.Log("Successfully Completed Histogram Computing", LEVEL_INFO);
    return Stop(0);
}

}  // namespace dormiscope
