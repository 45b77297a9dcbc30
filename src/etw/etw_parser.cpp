#include "etw/etw_parser.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "etw/logfile_header_field.h"
#include "log/logger.h"
#include "platform/kernel_event_classes.h"
#include "platform/trace_functions.h"

namespace dormiscope {
namespace {

constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

std::uint64_t Fnv1a(const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t hash = kFnvOffsetBasis;
    for (std::size_t index = 0; index < count; ++index) {
        hash ^= bytes[index];
        hash *= kFnvPrime;
    }
    return hash;
}

std::uint64_t GuidHash(const GUID& guid) {
    // The GUID's bytes as stored: Data1, Data2, Data3 little-endian, then Data4.
    std::uint8_t bytes[16];
    std::memcpy(bytes, &guid, sizeof bytes);
    return Fnv1a(bytes, 4) ^ Fnv1a(bytes + 4, 2) ^ Fnv1a(bytes + 6, 2) ^ Fnv1a(bytes + 8, 8);
}

void WriteStatusToStandardError(std::uint32_t status) {
    std::fprintf(stderr, "%u", status);
    std::fflush(stderr);
}

}  // namespace

bool operator==(const ProviderOpcodeKey& left, const ProviderOpcodeKey& right) {
    return left.opcode == right.opcode && SameGuid(left.provider, right.provider);
}

bool operator==(const ProviderWordKey& left, const ProviderWordKey& right) {
    return left.value == right.value && SameGuid(left.provider, right.provider);
}

std::size_t EventKeyHash::operator()(const ProviderOpcodeKey& key) const {
    return static_cast<std::size_t>(GuidHash(key.provider) ^ Fnv1a(&key.opcode, 1));
}

std::size_t EventKeyHash::operator()(const ProviderWordKey& key) const {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(key.value & 0xFF), static_cast<std::uint8_t>(key.value >> 8)};
    return static_cast<std::size_t>(GuidHash(key.provider) ^ Fnv1a(bytes, 2));
}

ETWParser::ETWParser() {
    eventIdCallbacks.max_load_factor(0.75F);
    opcodeCallbacks.max_load_factor(0.75F);
    taskCallbacks.max_load_factor(0.75F);
}

void ETWParser::AddEventCallback(const ProviderOpcodeKey& key, EventCallback callback) {
    if (opcodeCallbacks.contains(key)) {
        // Narrow output: the same bytes, and it works whatever the stream printed before.
        std::fputs("AddEventCallback() failed. Event already exists in Map\n", stdout);
        std::fflush(stdout);
        return;
    }
    opcodeCallbacks.emplace(key, callback);
    registeredOpcodes[key.opcode / 64] |= std::uint64_t{1} << (key.opcode % 64);
    lastLookUps[key.opcode].known = false;
}

std::uint32_t ETWParser::Open(const std::wstring& path, TRACE_LOGFILE_HEADER& header, void* owner_context) {
    if (&path != &traceFile) {
        traceFile = path;
    }
    logFile = EVENT_TRACE_LOGFILEW{};
    logFile.LogFileName = traceFile.data();
    logFile.ProcessTraceMode = PROCESS_TRACE_MODE_EVENT_RECORD;
    logFile.EventRecordCallback = &ETWParser::OnEventRecord;
    logFile.Context = this;

    traceHandle = kTraceFunctions.open_trace(&logFile);
    if (traceHandle == INVALID_PROCESSTRACE_HANDLE) {
        WriteStatusToStandardError(ERROR_INVALID_HANDLE);
        Logger::Instance().Log("ERROR_INVALID_HANDLE ", LEVEL_ERROR);
        return ERROR_INVALID_HANDLE;
    }

    const TRACE_LOGFILE_HEADER& file_header = logFile.LogfileHeader;
    if (file_header.EventsLost > 0) {
        Logger::Instance().Log(FormatLogMessage("WARNING: Trace is mising %u Events\n", std::uint64_t{file_header.EventsLost}),
                               LEVEL_INFO);
    }
    const std::int64_t perf_freq = ReadLogfileHeaderField<std::int64_t>(file_header, offsetof(TRACE_LOGFILE_HEADER, PerfFreq));
    const std::int64_t start_time = ReadLogfileHeaderField<std::int64_t>(file_header, offsetof(TRACE_LOGFILE_HEADER, StartTime));

    context = owner_context;
    traceInfo.header = &file_header;
    traceInfo.secondsPerTick = 1.0 / static_cast<double>(perf_freq);
    traceInfo.pointerSize = file_header.PointerSize;
    traceInfo.currentTimeStamp = 0;
    traceInfo.StartTime = start_time;
    traceInfo.EndTime = file_header.EndTime.QuadPart;

    std::memcpy(&header, &file_header, sizeof header);
    return ERROR_SUCCESS;
}

std::optional<ClockReference> ETWParser::Clock() const {
    return kTraceFunctions.clock_reference(traceHandle);
}

void ETWParser::ShowProgress(const std::string& label) {
    progress.emplace(label, traceInfo.StartTime, traceInfo.EndTime);
}

std::uint32_t ETWParser::Process() {
    const std::uint32_t status = kTraceFunctions.process_trace(&traceHandle, 1, nullptr, nullptr);
    // Gone before anything else is written to standard error.
    progress.reset();
    if (status == ERROR_SUCCESS || status == ERROR_CANCELLED) {
        return status;
    }
    WriteStatusToStandardError(status);
    Logger::Instance().Log(FormatLogMessage("ProcessTrace() failed with %lu\n", std::uint64_t{status}), LEVEL_ERROR);
    return status;
}

std::uint32_t ETWParser::Close() {
    const std::uint32_t status = kTraceFunctions.close_trace(traceHandle);
    if (status != ERROR_SUCCESS) {
        WriteStatusToStandardError(status);
        Logger::Instance().Log(FormatLogMessage("CloseTrace() failed with %lu\n", std::uint64_t{status}), LEVEL_ERROR);
    }
    traceHandle = 0;
    return status;
}

void WINAPI ETWParser::OnEventRecord(PEVENT_RECORD event) {
    auto* const parser = static_cast<ETWParser*>(event->UserContext);
    parser->traceInfo.currentTimeStamp = event->EventHeader.TimeStamp.QuadPart;
    if (parser->progress) {
        parser->progress->Count(event->EventHeader.TimeStamp.QuadPart);
    }
    const GUID& provider = event->EventHeader.ProviderId;
    const EVENT_DESCRIPTOR& descriptor = event->EventHeader.EventDescriptor;

    if (!parser->eventIdCallbacks.empty()) {
        if (const auto found = parser->eventIdCallbacks.find(ProviderWordKey{provider, descriptor.Id});
            found != parser->eventIdCallbacks.end()) {
            found->second(*event, &parser->traceInfo, parser->context);
        }
    }
    if (!parser->taskCallbacks.empty()) {
        if (const auto found = parser->taskCallbacks.find(ProviderWordKey{provider, descriptor.Task});
            found != parser->taskCallbacks.end()) {
            found->second(*event, &parser->traceInfo, parser->context);
        }
    }
    const std::uint8_t opcode = descriptor.Opcode;
    if ((parser->registeredOpcodes[opcode / 64] >> (opcode % 64) & 1) == 0) {
        if (parser->otherEventCallback != nullptr) {
            parser->otherEventCallback(*event, &parser->traceInfo, parser->context);
        }
        return;
    }
    // Compared field by field rather than copied into a key first: the
    // decoder has just stored the header in pieces, and one wide load of them
    // would wait for every piece to reach memory.
    RememberedLookUp& remembered = parser->lastLookUps[opcode];
    if (!remembered.known || !SameGuid(provider, remembered.provider)) {
        const auto found = parser->opcodeCallbacks.find(ProviderOpcodeKey{provider, opcode});
        remembered = {provider, found != parser->opcodeCallbacks.end() ? found->second : nullptr, true};
    }
    if (remembered.callback != nullptr) {
        remembered.callback(*event, &parser->traceInfo, parser->context);
    } else if (parser->otherEventCallback != nullptr) {
        parser->otherEventCallback(*event, &parser->traceInfo, parser->context);
    }
}

}  // namespace dormiscope
