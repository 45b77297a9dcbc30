// Stacks the kernel wrote through its stack cache: a reference names a key
// for an event's kernel or user part, and the key's addresses come later, in
// the definition written when the cache drops the key or at rundown. Each
// reference takes the addresses of the first definition of its key after it.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "etw/stack_event_records.h"

namespace dormiscope {

class CachedStacks {
public:
    // Called with each reference once its key is defined, in definition order.
    using Resolved = std::function<void(const StackEventData& reference, const std::vector<std::uint64_t>& frames)>;

    explicit CachedStacks(Resolved resolved) : resolved_(std::move(resolved)) {}

    void Add(const StackEventData& stack);

    // References whose key was never defined; they are dropped.
    std::uint64_t undefined_references() const;

private:
    Resolved resolved_;
    std::unordered_map<std::uint64_t, std::vector<StackEventData>> waiting_;
};

}  // namespace dormiscope
