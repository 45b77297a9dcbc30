// An allocation that fails on the reading thread ends the pass with
// ERROR_NOT_ENOUGH_MEMORY on the calling thread; what was delivered before
// is the trace's own order. Its own program: it replaces operator new, to
// fail the reading thread's n-th allocation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "consumer_test_support.h"
#include "etl_writer/etl_writer.h"
#include "etl_writer/kernel_events.h"
#include "platform/system/processors.h"

namespace {

std::atomic<bool> armed{false};
std::atomic<long> allocations_left{0};
std::thread::id calling_thread;

}  // namespace

void* operator new(std::size_t size) {
    if (armed.load() && std::this_thread::get_id() != calling_thread && allocations_left.fetch_sub(1) == 1) {
        throw std::bad_alloc();
    }
    if (void* const memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

// Not inlined: the compiler would then see `new` paired with free().
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }

[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace dormiscope::testing {
namespace {

TEST(ReadingThreadException, EndsThePassWithAnErrorAfterTheEventsBeforeIt) {
    if (ProcessorsToRunOn() == 1) {
        GTEST_SKIP() << "with one processor the calling thread reads";
    }
    TempDirectory directory;
    const auto path = directory / "trace.etl";
    etl::TraceOptions options;
    options.processors = 2;
    {
        // Events enough to be read on a thread of their own.
        etl::EtlWriter writer(path, options);
        for (std::uint32_t index = 0; index < 100'000; ++index) {
            writer.Add(etl::CSwitchEvent(index % 2, etl::RawFromOffset(options, 100 + index), 600 + index % 7, 0));
        }
        writer.Finish();
    }
    const TraceRun intact = ReadTrace(path);
    ASSERT_EQ(intact.status, ERROR_SUCCESS);

    // The first allocation, and one after several batches were delivered.
    for (const long failing : {1L, 400L}) {
        SCOPED_TRACE(failing);
        calling_thread = std::this_thread::get_id();
        allocations_left = failing;
        armed = true;
        const TraceRun run = ReadTrace(path);
        armed = false;
        EXPECT_EQ(run.status, ERROR_NOT_ENOUGH_MEMORY);
        ASSERT_LT(run.events.size(), intact.events.size());
        for (std::size_t index = 0; index < run.events.size(); ++index) {
            ASSERT_EQ(run.events[index].header.TimeStamp.QuadPart, intact.events[index].header.TimeStamp.QuadPart);
        }
    }
}

}  // namespace
}  // namespace dormiscope::testing
