// Reads one trace file through the operating system's trace consumer and
// hands every event to the callback registered for its provider and opcode.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "etw/progress_line.h"
#include "platform/etw_api.h"
#include "platform/trace_clock.h"

namespace dormiscope {

struct TraceInfo {
    const TRACE_LOGFILE_HEADER* header = nullptr;
    double secondsPerTick = 0.0;
    std::uint32_t pointerSize = 0;
    std::int64_t currentTimeStamp = 0;
    std::int64_t StartTime = 0;
    std::int64_t EndTime = 0;
};

using EventCallback = void (*)(const EVENT_RECORD& event, const TraceInfo* info, void* context);

struct ProviderOpcodeKey {
    GUID provider;
    std::uint8_t opcode;
};

struct ProviderWordKey {
    GUID provider;
    std::uint16_t value;
};

bool operator==(const ProviderOpcodeKey& left, const ProviderOpcodeKey& right);
bool operator==(const ProviderWordKey& left, const ProviderWordKey& right);

// XOR of the FNV-1a hashes of the GUID's four parts and of the key's value.
struct EventKeyHash {
    std::size_t operator()(const ProviderOpcodeKey& key) const;
    std::size_t operator()(const ProviderWordKey& key) const;
};

class ETWParser {
public:
    ETWParser();
    virtual ~ETWParser() = default;
    ETWParser(const ETWParser&) = delete;
    ETWParser& operator=(const ETWParser&) = delete;

    void AddEventCallback(const ProviderOpcodeKey& key, EventCallback callback);
    // Called for every event no opcode callback takes.
    void SetOtherEventCallback(EventCallback callback) { otherEventCallback = callback; }
    std::uint32_t Open(const std::wstring& path, TRACE_LOGFILE_HEADER& header, void* owner_context);
    std::uint32_t Process();
    std::uint32_t Close();
    // Shows a progress line named `label` while Process() runs, when
    // standard error is a terminal. Call after a successful Open().
    void ShowProgress(const std::string& label);

    const TraceInfo& Info() const { return traceInfo; }
    // Buffers the last Process() read from the file, as the consumer counts them.
    std::uint32_t BuffersRead() const { return logFile.BuffersRead; }
    // The clock of the open trace, where the consumer tells it.
    std::optional<ClockReference> Clock() const;

    static void WINAPI OnEventRecord(PEVENT_RECORD event);

private:
    std::unordered_map<ProviderWordKey, EventCallback, EventKeyHash> eventIdCallbacks;
    std::unordered_map<ProviderOpcodeKey, EventCallback, EventKeyHash> opcodeCallbacks;
    std::unordered_map<ProviderWordKey, EventCallback, EventKeyHash> taskCallbacks;
    EventCallback otherEventCallback = nullptr;
    std::wstring traceFile;
    TRACEHANDLE traceHandle = 0;
    EVENT_TRACE_LOGFILEW logFile{};
    TraceInfo traceInfo{};
    void* context = nullptr;

    // Most events of a trace match no registration, and the rest come from a
    // few classes, interleaved (a context switch, its stack, a ready, its
    // stack): opcodes nobody registered for are turned away by one bit test,
    // and each opcode keeps the answer of its last look-up for the next event.
    struct RememberedLookUp {
        GUID provider{};
        EventCallback callback = nullptr;
        bool known = false;
    };
    std::array<std::uint64_t, 4> registeredOpcodes{};
    std::array<RememberedLookUp, 256> lastLookUps{};

    std::optional<ProgressLine> progress;
};

}  // namespace dormiscope
