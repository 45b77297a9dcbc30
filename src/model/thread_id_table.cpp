#include "model/thread_id_table.h"

#include <utility>

namespace dormiscope {

void ThreadIdTable::Set(std::uint32_t thread_id, ThreadEntry* entry) {
    // Kept at most half full, so probe runs stay short.
    if (2 * (size_ + 1) > slots_.size()) {
        Grow();
    }
    for (std::size_t position = Home(thread_id);; position = (position + 1) & mask()) {
        Slot& slot = slots_[position];
        if (slot.entry == nullptr) {
            slot = {thread_id, entry};
            ++size_;
            return;
        }
        if (slot.thread_id == thread_id) {
            slot.entry = entry;
            return;
        }
    }
}

void ThreadIdTable::Grow() {
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(2 * slots_.size()));
    --shift_;
    size_ = 0;
    for (const Slot& slot : old) {
        if (slot.entry != nullptr) {
            Set(slot.thread_id, slot.entry);
        }
    }
}

}  // namespace dormiscope
