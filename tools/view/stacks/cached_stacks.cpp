#include "view/stacks/cached_stacks.h"

#include "platform/kernel_event_classes.h"

namespace dormiscope {

void CachedStacks::Refer(std::uint64_t key, std::uint32_t waiting) {
    waiting_[key].push_back(waiting);
}

void CachedStacks::Define(const StackEventData& definition) {
    if (definition.opcode != kOpcodeStackKeyDelete && definition.opcode != kOpcodeStackKeyRundown) {
        return;
    }
    const auto found = waiting_.find(definition.StackKey);
    if (found == waiting_.end()) {
        return;
    }
    for (const std::uint32_t waiting : found->second) {
        resolved_(waiting, definition.frames);
    }
    // The key may be used again for another stack once dropped.
    waiting_.erase(found);
}

std::uint64_t CachedStacks::undefined_references() const {
    std::uint64_t count = 0;
    for (const auto& [key, references] : waiting_) {
        count += references.size();
    }
    return count;
}

}  // namespace dormiscope
