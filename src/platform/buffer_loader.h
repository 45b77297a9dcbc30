// Reads every processor's buffers ahead of the thread that delivers their
// events: a second thread reads each buffer into memory of its own with a
// positioned read, decompresses it and checks that all its events decode,
// keeping a couple of buffers ready for every processor.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/buffer_walker.h"
#include "platform/etw_api.h"
#include "platform/trace_file.h"

namespace dormiscope {

struct LoadedBuffer {
    const BufferInfo* info = nullptr;
    // The buffer's bytes up to its used size (decompressed), header included.
    std::span<const std::uint8_t> bytes;
    // ERROR_FILE_CORRUPT when the buffer cannot be read or holds a damaged
    // event or compressed stream; ERROR_NOT_ENOUGH_MEMORY when the budget is
    // spent. Such a buffer has no bytes.
    ULONG status = ERROR_SUCCESS;
};

class BufferLoader {
public:
    // `streams` lists each processor's buffers in delivery order; they stay
    // alive as long as the loader. Starts reading at once.
    BufferLoader(const TraceFile& file, std::span<const std::span<const BufferInfo>> streams);
    BufferLoader(const BufferLoader&) = delete;
    BufferLoader& operator=(const BufferLoader&) = delete;
    ~BufferLoader();

    // The next buffer of stream `stream`, waiting for it if need be; null at
    // the stream's end. The buffer handed out before for the same stream is
    // given back, so it must no longer be used.
    const LoadedBuffer* Next(std::size_t stream);

private:
    // Buffers kept ready per processor, beyond the one being delivered.
    static constexpr std::size_t kAhead = 2;
    static constexpr std::size_t kSlots = kAhead + 1;

    struct Slot {
        LoadedBuffer loaded;
        std::vector<std::uint8_t> memory;
        bool ready = false;
    };
    struct Stream {
        std::span<const BufferInfo> buffers;
        std::size_t next_to_load = 0;  // buffer index; its slot is index % kSlots
        std::size_t next_to_hand = 0;
        Slot slots[kSlots];
    };

    void Run();
    // The stream with the fewest buffers ready, or null when every stream has
    // all its slots taken or all its buffers loaded.
    Stream* MostInNeed();
    void Load(Slot& slot, const BufferInfo& buffer);
    bool Reserve(std::vector<std::uint8_t>& memory, std::size_t size);

    const TraceFile& file_;
    std::vector<Stream> streams_;
    std::vector<std::uint8_t> stored_;  // a compressed buffer as it lies in the file
    std::size_t memory_budget_;

    std::mutex mutex_;
    std::condition_variable loaded_;
    std::condition_variable freed_;
    bool stopping_ = false;
    std::thread reader_;
};

}  // namespace dormiscope
