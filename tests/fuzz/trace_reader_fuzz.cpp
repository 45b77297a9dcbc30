// Feeds arbitrary bytes as a trace file through the consumer and, for every
// delivered event, through the Trace Data Helper functions, the way the
// program reads events.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/etw_api.h"

namespace {

// Both buffers keep their capacity from event to event and are only grown:
// the helper writes every byte it reports before anything reads it.
void ReadEveryProperty(PEVENT_RECORD record, std::vector<std::uint8_t>& info_bytes, std::vector<std::uint8_t>& value) {
    ULONG size = 0;
    if (TdhGetEventInformation(record, 0, nullptr, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) {
        return;
    }
    info_bytes.resize(size);
    auto* info = reinterpret_cast<PTRACE_EVENT_INFO>(info_bytes.data());
    if (TdhGetEventInformation(record, 0, nullptr, info, &size) != ERROR_SUCCESS) {
        return;
    }
    for (ULONG index = 0; index < info->TopLevelPropertyCount; ++index) {
        PROPERTY_DATA_DESCRIPTOR descriptor{};
        descriptor.PropertyName =
            reinterpret_cast<ULONGLONG>(info_bytes.data() + info->EventPropertyInfoArray[index].NameOffset);
        descriptor.ArrayIndex = 0;
        ULONG property_size = 0;
        if (TdhGetPropertySize(record, 0, nullptr, 1, &descriptor, &property_size) != ERROR_SUCCESS) {
            continue;
        }
        value.resize(property_size);
        TdhGetProperty(record, 0, nullptr, 1, &descriptor, property_size, value.data());
    }
}

void WINAPI OnEvent(PEVENT_RECORD record) {
    static std::vector<std::uint8_t> info_bytes;
    static std::vector<std::uint8_t> value;
    // Touch every byte the record points at, so the sanitizer sees any bad pointer.
    volatile std::uint8_t sink = 0;
    const auto* user_data = static_cast<const std::uint8_t*>(record->UserData);
    for (USHORT index = 0; index < record->UserDataLength; ++index) {
        sink = static_cast<std::uint8_t>(sink + user_data[index]);
    }
    for (USHORT item = 0; item < record->ExtendedDataCount; ++item) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(record->ExtendedData[item].DataPtr);
        for (USHORT index = 0; index < record->ExtendedData[item].DataSize; ++index) {
            sink = static_cast<std::uint8_t>(sink + data[index]);
        }
    }
    ReadEveryProperty(record, info_bytes, value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int descriptor = memfd_create("trace", MFD_CLOEXEC);
    static std::wstring path = L"/proc/self/fd/" + std::to_wstring(descriptor);
    // Overwritten, then cut to size: pages the last input also had are kept.
    if (descriptor < 0 || pwrite(descriptor, data, size, 0) != static_cast<ssize_t>(size) ||
        ftruncate(descriptor, static_cast<off_t>(size)) != 0) {
        return 0;
    }
    EVENT_TRACE_LOGFILEW logfile{};
    logfile.LogFileName = path.data();
    logfile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    logfile.EventRecordCallback = OnEvent;
    TRACEHANDLE handle = OpenTraceW(&logfile);
    if (handle == INVALID_PROCESSTRACE_HANDLE) {
        return 0;
    }
    ProcessTrace(&handle, 1, nullptr, nullptr);
    CloseTrace(handle);
    return 0;
}
