#include "trace_problem/trace_problem.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "platform/etw_api.h"
#include "platform/system/native_text.h"
#include "platform/trace_damage.h"
#include "platform/trace_functions.h"

namespace dormiscope {

std::optional<std::string> WhyTraceDoesNotOpen(const std::wstring& wide_path) {
    std::wstring name = wide_path;
    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LogFileName = name.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    if (const TRACEHANDLE handle = kTraceFunctions.open_trace(&logfile); handle != INVALID_PROCESSTRACE_HANDLE) {
        kTraceFunctions.close_trace(handle);
        return std::nullopt;
    }
    const std::filesystem::path path = PathFromWide(wide_path);
    std::error_code failure;
    const std::filesystem::file_status status = std::filesystem::status(path, failure);
    if (status.type() == std::filesystem::file_type::not_found) {
        return "no such file";
    }
    if (status.type() == std::filesystem::file_type::directory) {
        return "a directory";
    }
    if (failure) {
        return "cannot be read (" + failure.message() + ")";
    }
    errno = 0;
    if (!std::ifstream(path, std::ios::binary).is_open()) {
        return "cannot be read (" + std::string(std::strerror(errno != 0 ? errno : EACCES)) + ")";
    }
    return "not a trace file";
}

std::string WhyTraceReadingFailed(std::uint32_t status) {
    const std::string code = "error " + std::to_string(status);
    const std::optional<TraceDamage> damage = kTraceFunctions.last_damage();
    if (!damage) {
        return "reading it failed (" + code + ")";
    }
    // An unknown compression is no damage, but it stops the reading at the same kind of place.
    const char* const what = status == ERROR_FILE_CORRUPT ? "damaged" : "unreadable";
    return std::string(what) + " at offset " + std::to_string(damage->offset) + " (" + damage->reason + "; " + code +
           ")";
}

}  // namespace dormiscope
