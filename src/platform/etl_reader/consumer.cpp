// OpenTraceW, ProcessTrace and CloseTrace over a table of open trace sessions.
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/etw_api.h"
#include "platform/system/native_text.h"
#include "platform/etl_reader/trace_names.h"
#include "platform/etl_reader/trace_session.h"
#include "platform/trace_clock.h"
#include "platform/trace_damage.h"

namespace dormiscope {
namespace {

// What the calling thread's last ProcessTrace found damaged; kept per thread
// like a last-error value, since the consumer functions cannot carry it.
thread_local std::optional<TraceDamage> last_damage;

// Windows accepts up to this many handles in one ProcessTrace call; merging
// several files is not supported here, so only one is processed.
constexpr ULONG kMaxHandleCount = 64;

// Handles count up from 1 and are never reused, so neither 0 nor the invalid
// value is handed out and a stale handle never reaches a later trace. Sessions
// are shared so that a CloseTrace from within a callback cannot free the
// session ProcessTrace is working on.
class SessionTable {
public:
    static SessionTable& Instance() {
        static SessionTable table;
        return table;
    }

    TRACEHANDLE Add(std::shared_ptr<TraceSession> session) {
        const std::lock_guard lock(mutex_);
        const TRACEHANDLE handle = next_handle_++;
        sessions_.emplace(handle, std::move(session));
        return handle;
    }

    std::shared_ptr<TraceSession> Find(TRACEHANDLE handle) {
        const std::lock_guard lock(mutex_);
        const auto found = sessions_.find(handle);
        return found != sessions_.end() ? found->second : nullptr;
    }

    std::shared_ptr<TraceSession> Remove(TRACEHANDLE handle) {
        const std::lock_guard lock(mutex_);
        const auto found = sessions_.find(handle);
        if (found == sessions_.end()) {
            return nullptr;
        }
        std::shared_ptr<TraceSession> session = std::move(found->second);
        sessions_.erase(found);
        return session;
    }

private:
    std::mutex mutex_;
    TRACEHANDLE next_handle_ = 1;
    std::unordered_map<TRACEHANDLE, std::shared_ptr<TraceSession>> sessions_;
};

}  // namespace

std::optional<TraceDamage> LastTraceDamage() {
    return last_damage;
}

std::optional<ClockReference> TraceClockOf(TRACEHANDLE handle) {
    const std::shared_ptr<TraceSession> session = SessionTable::Instance().Find(handle);
    return session ? std::optional<ClockReference>(session->Logfile().clock) : std::nullopt;
}

std::u16string LoggerNameOf(TRACEHANDLE handle) {
    const std::shared_ptr<TraceSession> session = SessionTable::Instance().Find(handle);
    return session ? session->Logfile().logger_name : std::u16string();
}

std::u16string LogFileNameOf(TRACEHANDLE handle) {
    const std::shared_ptr<TraceSession> session = SessionTable::Instance().Find(handle);
    return session ? session->Logfile().log_file_name : std::u16string();
}

}  // namespace dormiscope

namespace dormiscope::etl_reader {

TRACEHANDLE WINAPI OpenTraceW(PEVENT_TRACE_LOGFILEW Logfile) {
    // Only trace files can be read here; real-time sessions do not exist.
    if (Logfile == nullptr || Logfile->LogFileName == nullptr ||
        (Logfile->ProcessTraceMode & PROCESS_TRACE_MODE_REAL_TIME) != 0) {
        return INVALID_PROCESSTRACE_HANDLE;
    }
    std::unique_ptr<dormiscope::TraceSession> session =
        dormiscope::TraceSession::Open(dormiscope::PathFromWide(Logfile->LogFileName), *Logfile);
    if (!session) {
        return INVALID_PROCESSTRACE_HANDLE;
    }
    const dormiscope::LogfileInfo& logfile = session->Logfile();
    Logfile->LogfileHeader = logfile.header;
    Logfile->BufferSize = logfile.header.BufferSize;
    Logfile->IsKernelTrace = logfile.is_kernel_trace ? 1 : 0;
    return dormiscope::SessionTable::Instance().Add(std::move(session));
}

ULONG WINAPI ProcessTrace(PTRACEHANDLE HandleArray, ULONG HandleCount, LPFILETIME StartTime, LPFILETIME EndTime) {
    dormiscope::last_damage.reset();
    if (HandleCount == 0 || HandleCount > dormiscope::kMaxHandleCount) {
        return ERROR_BAD_LENGTH;
    }
    if (HandleArray == nullptr || HandleCount != 1) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::shared_ptr<dormiscope::TraceSession> session = dormiscope::SessionTable::Instance().Find(HandleArray[0]);
    if (!session) {
        return ERROR_INVALID_HANDLE;
    }
    const ULONG status = session->Process(StartTime, EndTime);
    dormiscope::last_damage = session->Damage();
    return status;
}

ULONG WINAPI CloseTrace(TRACEHANDLE TraceHandle) {
    const std::shared_ptr<dormiscope::TraceSession> session = dormiscope::SessionTable::Instance().Remove(TraceHandle);
    if (!session) {
        return ERROR_INVALID_HANDLE;
    }
    session->RequestClose();
    return ERROR_SUCCESS;
}

}  // namespace dormiscope::etl_reader
