#include "view/symbols/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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

// Exit codes of a child that never reached the end of its work.
constexpr int kWorkThrew = 70;
constexpr int kWriteFailed = 71;

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

[[noreturn]] void RunChild(const std::function<std::string()>& work, int output) {
    // The program's own handlers (a fuzzer's, a sanitizer's) must not run in
    // the child: a crash there is reported by the parent as a signal.
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        ::signal(signal, SIG_DFL);
    }
    std::string bytes;
    try {
        bytes = work();
    } catch (...) {
        _exit(kWorkThrew);
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(output, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            _exit(kWriteFailed);
        }
        written += static_cast<std::size_t>(count);
    }
    // _exit: the parent's buffered output and exit handlers are the parent's.
    _exit(0);
}

void KillAndWait(pid_t child) {
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
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

std::string TookTooLong(std::chrono::milliseconds time_limit) {
    return "took longer than " + std::to_string(time_limit.count()) + " ms and was stopped";
}

// Reads until end of file, the deadline or the limit; an empty string when it
// reached end of file, else why it stopped.
std::string ReadAll(int input, Clock::time_point deadline, std::chrono::milliseconds time_limit,
                    std::size_t output_limit, std::string& output) {
    std::array<char, 65536> chunk{};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return TookTooLong(time_limit);
        }
        pollfd ready{input, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 60'000)));
        if (polled < 0 && errno != EINTR) {
            return SystemError("could not be waited for");
        }
        if (polled <= 0) {
            continue;
        }
        const ssize_t count = ::read(input, chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return SystemError("could not be read from");
        }
        if (count == 0) {
            return {};
        }
        if (static_cast<std::size_t>(count) > output_limit - output.size()) {
            return "sent more than " + std::to_string(output_limit) + " bytes and was stopped";
        }
        output.append(chunk.data(), static_cast<std::size_t>(count));
    }
}

enum class Waited { kEnded, kTimedOut, kFailed };

// The child closes its end of the pipe only by exiting, so this waits for
// moments, not for work; the deadline still bounds it.
Waited WaitUntil(pid_t child, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t waited = ::waitpid(child, &status, WNOHANG);
        if (waited == child) {
            return Waited::kEnded;
        }
        if (waited < 0 && errno != EINTR) {
            return Waited::kFailed;
        }
        if (Clock::now() >= deadline) {
            return Waited::kTimedOut;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

}  // namespace

ChildProcessResult RunInChildProcess(const std::function<std::string()>& work, std::chrono::milliseconds time_limit,
                                     std::size_t output_limit) {
    ChildProcessResult result;
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) {
        result.failure = SystemError("could not be started");
        return result;
    }
    const Clock::time_point deadline = Clock::now() + time_limit;
    const pid_t child = ::fork();
    if (child < 0) {
        result.failure = SystemError("could not be started");
        ::close(pipe_ends[0]);
        ::close(pipe_ends[1]);
        return result;
    }
    if (child == 0) {
        ::close(pipe_ends[0]);
        RunChild(work, pipe_ends[1]);
    }
    ::close(pipe_ends[1]);
    const std::string stopped = ReadAll(pipe_ends[0], deadline, time_limit, output_limit, result.output);
    ::close(pipe_ends[0]);
    int status = 0;
    if (!stopped.empty()) {
        KillAndWait(child);
        result.failure = stopped;
    } else {
        switch (WaitUntil(child, deadline, status)) {
        case Waited::kEnded:
            result.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            if (!result.finished) {
                result.failure = DescribeEnding(status);
            }
            break;
        case Waited::kTimedOut:
            KillAndWait(child);
            result.failure = TookTooLong(time_limit);
            break;
        case Waited::kFailed:
            result.failure = SystemError("could not be waited for");
            break;
        }
    }
    if (!result.finished) {
        result.output.clear();
    }
    return result;
}

}  // namespace dormiscope::symbols
