#include "platform/system/terminal.h"

#include <gtest/gtest.h>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace dormiscope {
namespace {

// The null device is a character device, which the C runtime's terminal test
// accepts on Windows: a progress line drawn there would go nowhere anyone
// watches. The test's own standard error is put back afterwards.
TEST(StandardErrorIsTerminalTest, TheNullDeviceIsNoTerminal) {
#ifdef _WIN32
    const char* const null_device = "NUL";
    const auto descriptor_of = _fileno;
    const auto duplicate = _dup;
    const auto restore = _dup2;
    const auto close_descriptor = _close;
#else
    const char* const null_device = "/dev/null";
    const auto descriptor_of = ::fileno;
    const auto duplicate = ::dup;
    const auto restore = ::dup2;
    const auto close_descriptor = ::close;
#endif
    std::fflush(stderr);
    const int saved = duplicate(descriptor_of(stderr));
    ASSERT_GE(saved, 0);
    ASSERT_NE(std::freopen(null_device, "w", stderr), nullptr);
    const bool terminal = StandardErrorIsTerminal();
    std::fflush(stderr);
    restore(saved, descriptor_of(stderr));
    close_descriptor(saved);
    EXPECT_FALSE(terminal);
}

}  // namespace
}  // namespace dormiscope
