#include "etl_writer/timer_resolution_events.h"

#include <stdexcept>

#include "etl_writer/byte_output.h"
#include "platform/kernel_power_events.h"

namespace dormiscope::etl {
namespace {

constexpr std::uint8_t kLevelInformational = 4;

// RequestedResolution (or RequestedPeriod), Pid, AppNameLength and AppName:
// the leading fields of events 63, 97 and 110.
void PutRequest(Bytes& out, const TimerRequestFields& fields) {
    PutLE(out, fields.Requested);
    PutLE(out, fields.Pid);
    PutLE(out, fields.AppNameLength.value_or(static_cast<std::uint16_t>(fields.AppName.size())));
    for (const char16_t unit : fields.AppName) {
        PutLE(out, static_cast<std::uint16_t>(unit));
    }
}

void CheckVersion(std::uint8_t version) {
    if (version > 1) {
        throw std::invalid_argument("version must be 0 or 1");
    }
}

}  // namespace

std::vector<std::uint8_t> TimeResolutionChangePayload(const TimerRequestFields& fields) {
    Bytes out;
    PutRequest(out, fields);
    PutLE(out, fields.SubProcessTag);
    return out;
}

std::vector<std::uint8_t> TimeResolutionRequestRundownPayload(const TimerRequestFields& fields) {
    Bytes out;
    PutRequest(out, fields);
    return out;
}

std::vector<std::uint8_t> TimerResolutionStackRundownPayload(const TimerRequestFields& fields,
                                                             const TimerStackFields& stack,
                                                             std::uint32_t pointer_size) {
    CheckPointerSize(pointer_size);
    Bytes out;
    PutRequest(out, fields);
    PutLE(out, stack.StackSize.value_or(static_cast<std::uint32_t>(stack.Stack.size() * pointer_size / 4)));
    for (const std::uint64_t address : stack.Stack) {
        PutPointer(out, address, pointer_size);
    }
    return out;
}

std::vector<std::uint8_t> TimeResolutionRundownPayload(std::uint8_t version, const TimerRundownFields& fields) {
    CheckVersion(version);
    Bytes out;
    PutLE(out, fields.CurrentPeriod);
    PutLE(out, fields.MinimumPeriod);
    PutLE(out, fields.MaximumPeriod);
    PutLE(out, fields.KernelRequestCount);
    PutLE(out, fields.KernelRequestedPeriod);
    if (version == 1) {
        PutLE(out, fields.InternalSetPeriod);
    }
    return out;
}

std::vector<std::uint8_t> TimeResolutionKernelChangePayload(std::uint8_t version, std::uint32_t requested,
                                                            std::uint32_t tag) {
    CheckVersion(version);
    Bytes out;
    PutLE(out, requested);
    if (version == 1) {
        PutLE(out, tag);
    }
    return out;
}

Event KernelPowerEvent(std::uint32_t processor, std::int64_t raw, std::uint16_t id, std::uint8_t version,
                       std::uint32_t pid, std::uint32_t pointer_size, std::vector<std::uint8_t> payload) {
    CheckPointerSize(pointer_size);
    Event event;
    event.processor = processor;
    event.raw_timestamp = raw;
    event.form = pointer_size == 4 ? HeaderForm::EventHeader32 : HeaderForm::EventHeader64;
    event.provider = kKernelPowerProvider;
    event.event_id = id;
    event.version = version;
    event.level = kLevelInformational;
    event.keyword = kKernelPowerTimerKeyword;
    event.pid = pid;
    event.payload = std::move(payload);
    return event;
}

}  // namespace dormiscope::etl
