// The process-wide log: level-filtered, time-stamped lines written to
// "dormiscope.log", either whole or assembled from per-thread fragments.
#pragma once

#include <cstdint>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

namespace dormiscope {

using LogLevel = int;

inline constexpr LogLevel LEVEL_DEBUG = 0;
inline constexpr LogLevel LEVEL_TRACE = 1;
inline constexpr LogLevel LEVEL_INFO = 2;
inline constexpr LogLevel LEVEL_WARNING = 3;
inline constexpr LogLevel LEVEL_ERROR = 4;

inline constexpr int FILE_ONLY = 0;
inline constexpr int CONSOLE_ONLY = 1;
inline constexpr int CONSOLE_AND_FILE = 2;

// The name of a level: "DEBUG" … "ERROR", "NONE" for any other value.
const std::string& LevelName(LogLevel level);

// A calendar time in the 24-character asctime layout, followed by a line feed.
std::string AsctimeText(const std::tm& time);

// The local time in the asctime layout.
std::string CurrentTimeText();

// The calling thread's identifier in decimal.
std::string CurrentThreadKey();

class Logger {
public:
    static Logger& Instance();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void Configure(const std::wstring& level_text);
    void Open();
    void Close();

    void Log(const std::string& text, LogLevel level);
    Logger& Stream(LogLevel level);
    Logger& operator<<(const std::string& fragment);
    Logger& operator<<(const char* fragment);
    Logger& operator<<(std::int32_t number);
    Logger& operator<<(std::uint32_t number);
    Logger& operator<<(std::int64_t number);
    Logger& operator<<(std::uint64_t number);
    void EndLine();

    // Wraps text in the brackets, without its last line feed.
    std::string Bracket(const std::string& text) const;

    std::mutex output_lock;
    std::mutex line_lock;
    std::ofstream file;
    std::string file_name = "dormiscope.log";
    std::map<std::string, std::ostringstream> pending_lines;
    std::map<std::string, LogLevel> pending_levels;
    LogLevel threshold = LEVEL_DEBUG;
    int destination = CONSOLE_AND_FILE;
    std::string open_bracket = "[";
    std::string close_bracket = "]";
    std::function<std::string()> time_source = CurrentTimeText;
    std::function<std::string()> thread_key_source = CurrentThreadKey;
    bool is_open = false;

private:
    Logger() = default;
    ~Logger();

    template <typename Number>
    Logger& AppendNumber(Number number);
    void WriteTo(std::ostream& out, const std::string& line);
};

// The text of a message holding one printf conversion ("%u", "%lu" or "%f"),
// with the value in the conversion's place; a final line feed only ends the
// message's line, so it is not part of the text.
std::string FormatLogMessage(const std::string& format, std::uint64_t value);
std::string FormatLogMessage(const std::string& format, double value);

}  // namespace dormiscope
