#include "platform/buffer_loader.h"

#include <algorithm>
#include <cstring>

#include "platform/etl_layout.h"
#include "platform/event_header_decoder.h"
#include "platform/lz77_plain.h"

namespace dormiscope {
namespace {

// Memory all buffers of one pass may take together.
constexpr std::size_t kMemoryBudget = 1u << 30;

// Whether every event of the buffer decodes, so that none of a damaged
// buffer's events is ever delivered.
bool EventsDecode(std::span<const std::uint8_t> bytes, std::size_t first_event) {
    for (std::size_t position = first_event; position < bytes.size();) {
        const DecodedEvent decoded = MeasureEvent(bytes, position);
        if (decoded.outcome == EventOutcome::kCorrupt) {
            return false;
        }
        if (decoded.outcome == EventOutcome::kEndOfBuffer) {
            return true;
        }
        position += etl::AlignEvent(decoded.size);
    }
    return true;
}

}  // namespace

BufferLoader::BufferLoader(const TraceFile& file, std::span<const std::span<const BufferInfo>> streams)
    : file_(file), streams_(streams.size()), memory_budget_(kMemoryBudget) {
    for (std::size_t index = 0; index < streams.size(); ++index) {
        streams_[index].buffers = streams[index];
    }
    reader_ = std::thread([this] { Run(); });
}

BufferLoader::~BufferLoader() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    freed_.notify_all();
    reader_.join();
}

const LoadedBuffer* BufferLoader::Next(std::size_t index) {
    Stream& stream = streams_[index];
    std::unique_lock lock(mutex_);
    if (stream.next_to_hand > 0) {
        // The buffer handed out last is done with: its slot may be filled again.
        freed_.notify_one();
    }
    if (stream.next_to_hand == stream.buffers.size()) {
        return nullptr;
    }
    loaded_.wait(lock, [&] { return stream.next_to_load > stream.next_to_hand; });
    return &stream.slots[stream.next_to_hand++ % kSlots].loaded;
}

BufferLoader::Stream* BufferLoader::MostInNeed() {
    Stream* neediest = nullptr;
    for (Stream& stream : streams_) {
        const std::size_t held = stream.next_to_hand > 0 ? 1 : 0;
        const std::size_t ready = stream.next_to_load - stream.next_to_hand;
        if (stream.next_to_load == stream.buffers.size() || ready + held == kSlots) {
            continue;
        }
        if (neediest == nullptr || ready < neediest->next_to_load - neediest->next_to_hand) {
            neediest = &stream;
        }
    }
    return neediest;
}

void BufferLoader::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Stream* stream = nullptr;
        freed_.wait(lock, [&] {
            stream = MostInNeed();
            return stopping_ || stream != nullptr;
        });
        if (stopping_) {
            return;
        }
        const std::size_t index = stream->next_to_load;
        lock.unlock();
        Load(stream->slots[index % kSlots], stream->buffers[index]);
        lock.lock();
        ++stream->next_to_load;
        loaded_.notify_all();
        if (MostInNeed() == nullptr &&
            std::all_of(streams_.begin(), streams_.end(),
                        [](const Stream& each) { return each.next_to_load == each.buffers.size(); })) {
            return;
        }
    }
}

bool BufferLoader::Reserve(std::vector<std::uint8_t>& memory, std::size_t size) {
    if (size > memory.size()) {
        const std::size_t growth = size - memory.size();
        if (growth > memory_budget_) {
            return false;
        }
        memory_budget_ -= growth;
        memory.resize(size);
    }
    return true;
}

void BufferLoader::Load(Slot& slot, const BufferInfo& buffer) {
    slot.loaded = {&buffer, {}, ERROR_SUCCESS};
    if (!Reserve(slot.memory, buffer.used) || (buffer.compressed && !Reserve(stored_, buffer.stored_size))) {
        slot.loaded.status = ERROR_NOT_ENOUGH_MEMORY;
        return;
    }
    const std::span<std::uint8_t> bytes(slot.memory.data(), buffer.used);
    bool sound = false;
    if (buffer.compressed) {
        const std::span<std::uint8_t> stored(stored_.data(), buffer.stored_size);
        sound = file_.ReadAt(buffer.file_offset, stored);
        if (sound) {
            // The decompressed copy keeps the buffer's layout: header, then events.
            std::memcpy(bytes.data(), stored.data(), etl::kBufferHeaderSize);
            sound = DecompressPlainLz77(stored.subspan(etl::kBufferHeaderSize),
                                        bytes.subspan(etl::kBufferHeaderSize)) == Lz77Status::kOk;
        }
    } else {
        sound = file_.ReadAt(buffer.file_offset, bytes);
    }
    if (!sound || !EventsDecode(bytes, buffer.first_event)) {
        slot.loaded.status = ERROR_FILE_CORRUPT;
        return;
    }
    slot.loaded.bytes = bytes;
}

}  // namespace dormiscope
