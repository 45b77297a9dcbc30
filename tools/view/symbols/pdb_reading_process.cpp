#include "view/symbols/pdb_reading_process.h"

#include <poll.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>

namespace dormiscope::symbols {

namespace {

using Clock = std::chrono::steady_clock;

// Far above the largest function table a real PDB gives (a few hundred MB
// for the biggest), far below what would exhaust the view's memory.
constexpr std::uint64_t kReadingSizeLimit = std::uint64_t{1} << 30;

// Exit codes of a child that could not go on serving.
constexpr int kBadRequest = 70;
constexpr int kReadThrew = 71;
constexpr int kSendFailed = 72;
constexpr int kParentGone = 73;

enum class Io { kDone, kEnded, kTimedOut, kFailed };

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Waits until `channel` is ready for `events`; no deadline (the child's side)
// is Clock::time_point::max().
Io WaitFor(int channel, short events, Clock::time_point deadline) {
    for (;;) {
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return Io::kTimedOut;
            }
            timeout = static_cast<int>(std::min<std::int64_t>(left.count(), 60'000));
        }
        pollfd ready{channel, events, 0};
        const int polled = ::poll(&ready, 1, timeout);
        if (polled > 0) {
            return Io::kDone;
        }
        if (polled < 0 && errno != EINTR) {
            return Io::kFailed;
        }
    }
}

Io SendAll(int channel, std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
        if (const Io ready = WaitFor(channel, POLLOUT, deadline); ready != Io::kDone) {
            return ready;
        }
        // MSG_NOSIGNAL: a peer that is gone is an error here, not a SIGPIPE.
        const ssize_t sent = ::send(channel, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return errno == EPIPE || errno == ECONNRESET ? Io::kEnded : Io::kFailed;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return Io::kDone;
}

// Appends exactly `size` bytes, in chunks, so that a size claimed by garbage
// allocates nothing the peer did not send.
Io ReceiveExactly(int channel, std::uint64_t size, Clock::time_point deadline, std::string& bytes) {
    std::array<char, 65536> chunk{};
    while (size > 0) {
        if (const Io ready = WaitFor(channel, POLLIN, deadline); ready != Io::kDone) {
            return ready;
        }
        const ssize_t count = ::recv(channel, chunk.data(), std::min<std::uint64_t>(size, chunk.size()), MSG_DONTWAIT);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return errno == ECONNRESET ? Io::kEnded : Io::kFailed;
        }
        if (count == 0) {
            return Io::kEnded;
        }
        bytes.append(chunk.data(), static_cast<std::size_t>(count));
        size -= static_cast<std::uint64_t>(count);
    }
    return Io::kDone;
}

// A whole frame, or why not; a frame larger than `limit` is garbage.
Io ReceiveFrame(int channel, Clock::time_point deadline, std::uint64_t limit, std::string& frame) {
    if (const Io header = ReceiveExactly(channel, kFrameHeaderSize, deadline, frame); header != Io::kDone) {
        return header;
    }
    const std::optional<std::uint64_t> size = FrameBodySize(frame);
    if (!size || *size > limit) {
        return Io::kFailed;
    }
    return ReceiveExactly(channel, *size, deadline, frame);
}

[[noreturn]] void Serve(const PdbReadingProcess::ReadFunction& read, int channel, pid_t parent) {
    // A child stuck in a hostile file must not outlive a view that was
    // killed: the kernel ends it with its parent. The parent may have gone
    // before the request was made, leaving the child with another one.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) {
        _exit(kParentGone);
    }
    // The program's own handlers (a fuzzer's, a sanitizer's) must not run in
    // the child: a crash there is reported by the parent as a signal.
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        ::signal(signal, SIG_DFL);
    }
    for (;;) {
        std::string frame;
        const Io received = ReceiveFrame(channel, Clock::time_point::max(), UINT64_MAX, frame);
        if (received == Io::kEnded) {
            _exit(0);  // the parent is done with this child
        }
        const std::optional<PdbReadingRequest> request =
            received == Io::kDone ? DecodePdbReadingRequest(frame) : std::nullopt;
        if (!request) {
            _exit(kBadRequest);
        }
        std::string answer;
        try {
            answer = EncodePdbReading(read(*request));
        } catch (...) {
            _exit(kReadThrew);
        }
        if (SendAll(channel, answer, Clock::time_point::max()) != Io::kDone) {
            _exit(kSendFailed);
        }
    }
}

std::string DescribeEnding(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        return "ended by signal " + std::to_string(signal) + ": " + ::strsignal(signal);
    }
    if (WIFEXITED(status)) {
        return "exited with code " + std::to_string(WEXITSTATUS(status));
    }
    return "ended with status " + std::to_string(status);
}

void KillAndReap(pid_t child) {
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

// The status of a child whose end of the channel closed: it is exiting, so
// this waits for moments, not for work; the deadline still bounds it.
// Sleeping on a process descriptor wakes once, when the child ends (a loaded
// machine makes every extra wake-up cost a time slice); without one (a kernel
// before 5.3), polling.
std::optional<int> StatusOfEndingChild(pid_t child, Clock::time_point deadline) {
    const int process = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (process >= 0) {
        const Io ended = WaitFor(process, POLLIN, deadline);
        ::close(process);
        if (ended != Io::kDone) {
            return std::nullopt;
        }
    }
    for (;;) {
        int status = 0;
        const pid_t waited = ::waitpid(child, &status, process >= 0 ? 0 : WNOHANG);
        if (waited == child) {
            return status;
        }
        if ((waited < 0 && errno != EINTR) || Clock::now() >= deadline) {
            return std::nullopt;
        }
        if (waited == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

}  // namespace

PdbReadingProcess::PdbReadingProcess(ReadFunction read, std::chrono::milliseconds time_limit)
    : read_(std::move(read)), time_limit_(time_limit) {}

PdbReadingProcess::~PdbReadingProcess() {
    Stop();
}

bool PdbReadingProcess::Start(std::string& failure) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        failure = SystemError("could not be started");
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        failure = SystemError("could not be started");
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    if (child == 0) {
        ::close(ends[0]);
        Serve(read_, ends[1], parent);
    }
    ::close(ends[1]);
    child_ = child;
    channel_ = ends[0];
    readings_served_ = 0;
    return true;
}

void PdbReadingProcess::Stop() {
    if (child_ < 0) {
        return;
    }
    ::close(channel_);
    KillAndReap(child_);
    child_ = -1;
    channel_ = -1;
}

std::optional<PdbReading> PdbReadingProcess::Exchange(const std::string& request, std::string& failure) {
    const Clock::time_point deadline = Clock::now() + time_limit_;
    std::string answer;
    Io io = SendAll(channel_, request, deadline);
    if (io == Io::kDone) {
        io = ReceiveFrame(channel_, deadline, kReadingSizeLimit, answer);
    }
    if (io == Io::kDone) {
        if (std::optional<PdbReading> reading = DecodePdbReading(answer)) {
            return reading;
        }
        failure = "sent a malformed answer";
    } else if (io == Io::kEnded) {
        if (const std::optional<int> status = StatusOfEndingChild(child_, deadline)) {
            // Reaped: its process id may already be another's.
            ::close(channel_);
            child_ = -1;
            channel_ = -1;
            failure = DescribeEnding(*status);
            return std::nullopt;
        }
        failure = "closed its channel without ending";
    } else if (io == Io::kTimedOut) {
        failure = "took longer than " + std::to_string(time_limit_.count()) + " ms and was stopped";
    } else {
        failure = "sent a malformed answer";
    }
    Stop();
    return std::nullopt;
}

PdbReading PdbReadingProcess::Read(const PdbReadingRequest& request) {
    const std::string message = EncodePdbReadingRequest(request);
    std::string failure;
    for (;;) {
        if (child_ < 0 && !Start(failure)) {
            break;
        }
        const bool fresh = readings_served_ == 0;
        std::optional<PdbReading> reading = Exchange(message, failure);
        if (reading) {
            ++readings_served_;
            if (reading->outcome == PdbReading::Outcome::kUnreadable) {
                Stop();
            }
            return std::move(*reading);
        }
        if (fresh) {
            break;
        }
    }
    PdbReading reading;
    reading.outcome = PdbReading::Outcome::kReaderFailed;
    reading.problem = "its reading process " + failure;
    return reading;
}

}  // namespace dormiscope::symbols
