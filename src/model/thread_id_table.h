// The thread registered last under each thread id. Every context switch looks
// two ids up here, so it is an open-addressing table of (id, entry) pairs in
// one array: a look-up is a multiply, a shift and usually one cache line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dormiscope {

struct ThreadEntry;

class ThreadIdTable {
public:
    ThreadIdTable() : slots_(kInitialCapacity) {}

    // The entry registered last under `thread_id`, or null.
    ThreadEntry* Find(std::uint32_t thread_id) const {
        for (std::size_t position = Home(thread_id);; position = (position + 1) & mask()) {
            const Slot& slot = slots_[position];
            if (slot.entry == nullptr || slot.thread_id == thread_id) {
                return slot.entry;
            }
        }
    }

    // Points `thread_id` at `entry` (never null), replacing what it pointed at.
    void Set(std::uint32_t thread_id, ThreadEntry* entry);

    std::size_t size() const { return size_; }

private:
    struct Slot {
        std::uint32_t thread_id = 0;
        ThreadEntry* entry = nullptr;  // null: free
    };
    static constexpr std::size_t kInitialCapacity = 64;

    std::size_t mask() const { return slots_.size() - 1; }
    // Fibonacci hashing spreads ids that are all multiples of 4.
    std::size_t Home(std::uint32_t thread_id) const {
        return static_cast<std::size_t>((std::uint64_t{thread_id} * 0x9E3779B97F4A7C15ULL) >> shift_);
    }
    void Grow();

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    unsigned shift_ = 64 - 6;  // log2 of the capacity taken from 64
};

}  // namespace dormiscope
