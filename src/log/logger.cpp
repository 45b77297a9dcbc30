#include "log/logger.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "platform/etw_api.h"

namespace dormiscope {

const std::string& LevelName(LogLevel level) {
    static const std::map<LogLevel, std::string> names = {
        {LEVEL_DEBUG, "DEBUG"}, {LEVEL_TRACE, "TRACE"},  {LEVEL_INFO, "INFO"},
        {LEVEL_WARNING, "WARNING"}, {LEVEL_ERROR, "ERROR"},
    };
    static const std::string none = "NONE";
    const auto found = names.find(level);
    return found == names.end() ? none : found->second;
}

std::string AsctimeText(const std::tm& time) {
    static constexpr std::array<const char*, 7> days = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Spelled out rather than formatted by the C library, so that no locale changes the names.
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d\n", days[static_cast<unsigned>(time.tm_wday) % 7],
                  months[static_cast<unsigned>(time.tm_mon) % 12], time.tm_mday, time.tm_hour, time.tm_min,
                  time.tm_sec, time.tm_year + 1900);
    return text;
}

std::string CurrentTimeText() {
    static std::mutex localtime_lock;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    {
        // std::localtime shares one buffer among threads.
        const std::lock_guard guard(localtime_lock);
        local = *std::localtime(&now);
    }
    return AsctimeText(local);
}

std::string CurrentThreadKey() {
    // A thread keeps its id: asking the system once spares a call per fragment.
    thread_local const std::string key = std::to_string(GetCurrentThreadId());
    return key;
}

Logger& Logger::Instance() {
    static Logger instance;
    return instance;
}

Logger::~Logger() {
    Close();
}

void Logger::Configure(const std::wstring& level_text) {
    if (is_open) {
        return;
    }
    destination = FILE_ONLY;
    if (level_text == L"info") {
        threshold = LEVEL_INFO;
    } else if (level_text == L"debug") {
        threshold = LEVEL_DEBUG;
    } else if (level_text == L"warning") {
        threshold = LEVEL_WARNING;
    } else {
        threshold = LEVEL_INFO;
    }
}

void Logger::Open() {
    if (is_open) {
        return;
    }
    if (file.is_open()) {
        file.close();
    }
    file.clear();
    file.open(file_name, std::ios::out | std::ios::binary | std::ios::trunc);
    // A log that cannot be opened leaves the logger closed; the run goes on silently.
    is_open = file.is_open();
}

void Logger::Close() {
    const std::lock_guard guard(output_lock);
    if (is_open) {
        file.flush();
        file.close();
    }
    is_open = false;
}

std::string Logger::Bracket(const std::string& text) const {
    std::string copy = text;
    if (const auto last = copy.rfind('\n'); last != std::string::npos) {
        copy.erase(last, 1);
    }
    return open_bracket + copy + close_bracket;
}

void Logger::WriteTo(std::ostream& out, const std::string& line) {
    out << line << '\n';
    out.flush();
}

void Logger::Log(const std::string& text, LogLevel level) {
    if (!is_open || level < threshold) {
        return;
    }
    const std::string line = Bracket(time_source()) + Bracket(LevelName(level)) + " " + text;
    const std::lock_guard guard(output_lock);
    switch (destination) {
    case FILE_ONLY:
        WriteTo(file, line);
        break;
    case CONSOLE_ONLY:
        WriteTo(level == LEVEL_WARNING || level == LEVEL_ERROR ? std::cerr : std::cout, line);
        break;
    default:
        WriteTo(std::cout, line);
        WriteTo(file, line);
        break;
    }
}

Logger& Logger::Stream(LogLevel level) {
    const std::string key = thread_key_source();
    const std::lock_guard guard(line_lock);
    const auto recorded = pending_levels.find(key);
    const LogLevel current = recorded == pending_levels.end() ? LEVEL_DEBUG : recorded->second;
    if (current != level && is_open) {
        // A change of level writes out every thread's unfinished line, not only the caller's.
        for (const auto& [thread, buffer] : pending_lines) {
            const auto thread_level = pending_levels.find(thread);
            Log(buffer.str(), thread_level == pending_levels.end() ? LEVEL_DEBUG : thread_level->second);
        }
        pending_lines.clear();
        pending_levels.clear();
        const std::lock_guard output_guard(output_lock);
        file.flush();
    }
    pending_levels[key] = level;
    return *this;
}

Logger& Logger::operator<<(const std::string& fragment) {
    if (fragment == "\n") {
        EndLine();
        return *this;
    }
    {
        const std::string key = thread_key_source();
        const std::lock_guard guard(line_lock);
        pending_lines[key] << fragment;
    }
    if (!fragment.empty() && fragment.back() == '\n') {
        EndLine();
    }
    return *this;
}

Logger& Logger::operator<<(const char* fragment) {
    return *this << std::string(fragment);
}

template <typename Number>
Logger& Logger::AppendNumber(Number number) {
    const std::string key = thread_key_source();
    const std::lock_guard guard(line_lock);
    pending_lines[key] << number;
    return *this;
}

Logger& Logger::operator<<(std::int32_t number) {
    return AppendNumber(number);
}

Logger& Logger::operator<<(std::uint32_t number) {
    return AppendNumber(number);
}

Logger& Logger::operator<<(std::int64_t number) {
    return AppendNumber(number);
}

Logger& Logger::operator<<(std::uint64_t number) {
    return AppendNumber(number);
}

void Logger::EndLine() {
    const std::string key = thread_key_source();
    const std::lock_guard guard(line_lock);
    const auto recorded = pending_levels.find(key);
    const auto buffer = pending_lines.find(key);
    Log(buffer == pending_lines.end() ? std::string() : buffer->second.str(),
        recorded == pending_levels.end() ? LEVEL_DEBUG : recorded->second);
    pending_levels.erase(key);
    pending_lines.erase(key);
}

namespace {

std::string Substitute(const std::string& format, const std::string& conversion, const std::string& value) {
    std::string text = format;
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (const auto at = text.find(conversion); at != std::string::npos) {
        text.replace(at, conversion.size(), value);
    }
    return text;
}

}  // namespace

std::string FormatLogMessage(const std::string& format, std::uint64_t value) {
    const std::string conversion = format.find("%lu") != std::string::npos ? "%lu" : "%u";
    return Substitute(format, conversion, std::to_string(value));
}

std::string FormatLogMessage(const std::string& format, double value) {
    char digits[512];
    std::snprintf(digits, sizeof digits, "%f", value);
    return Substitute(format, "%f", digits);
}

}  // namespace dormiscope
