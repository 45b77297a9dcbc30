// Runs the trace consumer over a file and keeps what the callback saw.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/etw_api.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::testing {

inline const std::filesystem::path kSamplesDir = DORMISCOPE_SAMPLES_DIR;

// What a callback can observe of one delivered event.
struct SeenEvent {
    EVENT_HEADER header{};
    ETW_BUFFER_CONTEXT buffer_context{};
    std::vector<std::uint8_t> user_data;
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> extended;
    std::vector<std::vector<std::uint8_t>> extended_data;
    PVOID user_context = nullptr;
};

struct TraceRun {
    bool opened = false;
    TRACEHANDLE handle = INVALID_PROCESSTRACE_HANDLE;
    EVENT_TRACE_LOGFILEW logfile{};
    ULONG status = ERROR_SUCCESS;
    std::vector<SeenEvent> events;
};

inline void WINAPI RecordEvent(PEVENT_RECORD record) {
    auto* run = static_cast<TraceRun*>(record->UserContext);
    SeenEvent seen;
    seen.header = record->EventHeader;
    seen.buffer_context = record->BufferContext;
    seen.user_context = record->UserContext;
    const auto* data = static_cast<const std::uint8_t*>(record->UserData);
    seen.user_data.assign(data, data + record->UserDataLength);
    for (USHORT index = 0; index < record->ExtendedDataCount; ++index) {
        const EVENT_HEADER_EXTENDED_DATA_ITEM& item = record->ExtendedData[index];
        seen.extended.push_back(item);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(item.DataPtr);
        seen.extended_data.emplace_back(bytes, bytes + item.DataSize);
    }
    run->events.push_back(std::move(seen));
}

// Opens `path`, processes it once with no time bounds and closes it.
inline TraceRun ReadTrace(const std::filesystem::path& path,
                          ULONG mode = PROCESS_TRACE_MODE_EVENT_RECORD) {
    TraceRun run;
    std::wstring name = path.wstring();
    run.logfile.LogFileName = name.data();
    run.logfile.ProcessTraceMode = mode;
    run.logfile.EventRecordCallback = RecordEvent;
    run.logfile.Context = &run;
    run.handle = OpenTraceW(&run.logfile);
    run.opened = run.handle != INVALID_PROCESSTRACE_HANDLE;
    if (run.opened) {
        run.status = ProcessTrace(&run.handle, 1, nullptr, nullptr);
        EXPECT_EQ(CloseTrace(run.handle), ERROR_SUCCESS);
    }
    return run;
}

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A fresh directory for one test's files, removed afterwards.
class TempDirectory {
public:
    TempDirectory() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char& character : name) {
            if (character == '/') {
                character = '_';
            }
        }
        path_ = std::filesystem::temp_directory_path() / ("dormiscope-" + std::to_string(::getpid()) + "-" + name);
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDirectory() { std::filesystem::remove_all(path_); }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

}  // namespace dormiscope::testing
