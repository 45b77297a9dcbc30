#include "view/stacks/cached_stacks.h"

#include "platform/kernel_event_classes.h"

namespace dormiscope {

void CachedStacks::Add(const StackEventData& stack) {
    switch (stack.opcode) {
        case kOpcodeStackKeyKernel:
        case kOpcodeStackKeyUser:
            waiting_[stack.StackKey].push_back(stack);
            return;
        case kOpcodeStackKeyDelete:
        case kOpcodeStackKeyRundown: {
            const auto found = waiting_.find(stack.StackKey);
            if (found == waiting_.end()) {
                return;
            }
            for (const StackEventData& reference : found->second) {
                resolved_(reference, stack.frames);
            }
            // The key may be used again for another stack once dropped.
            waiting_.erase(found);
            return;
        }
        default:
            return;
    }
}

std::uint64_t CachedStacks::undefined_references() const {
    std::uint64_t count = 0;
    for (const auto& [key, references] : waiting_) {
        count += references.size();
    }
    return count;
}

}  // namespace dormiscope
