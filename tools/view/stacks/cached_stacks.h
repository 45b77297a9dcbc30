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
    // Called with what waited on a key once the key is defined, in the order
    // the references came.
    using Resolved = std::function<void(std::uint32_t waiting, const std::vector<std::uint64_t>& frames)>;

    explicit CachedStacks(Resolved resolved) : resolved_(std::move(resolved)) {}

    // A reference to `key`; `waiting` is the caller's name for what needs its frames.
    void Refer(std::uint64_t key, std::uint32_t waiting);
    // A key's definition (a key delete or rundown); other stack events are ignored.
    void Define(const StackEventData& definition);

    // References whose key was never defined; they are dropped.
    std::uint64_t undefined_references() const;

private:
    Resolved resolved_;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> waiting_;
};

}  // namespace dormiscope
