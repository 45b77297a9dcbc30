#include "platform/event_merge.h"

namespace dormiscope {

void SiftTopDown(std::vector<MergeHead>& heap) {
    const std::size_t count = heap.size();
    std::size_t parent = 0;
    for (;;) {
        const std::size_t left = 2 * parent + 1;
        if (left >= count) {
            return;
        }
        std::size_t earliest_child = left;
        if (left + 1 < count && DeliveredAfter(heap[left], heap[left + 1])) {
            earliest_child = left + 1;
        }
        if (!DeliveredAfter(heap[parent], heap[earliest_child])) {
            return;
        }
        std::swap(heap[parent], heap[earliest_child]);
        parent = earliest_child;
    }
}

}  // namespace dormiscope
