#include "view/collect/stack_attribution.h"

#include <algorithm>
#include <tuple>

#include "platform/kernel_event_classes.h"

namespace dormiscope::view {

StackAttribution::StackAttribution()
    : cached_([this](std::uint32_t waiting, const std::vector<std::uint64_t>& frames) {
          parts_[waiting].frames = frames;
          parts_[waiting].defined = true;
      }),
      stacks_(1, {kNoPart, kNoPart}) {}

StackAttribution::Ring& StackAttribution::RingOf(std::uint32_t processor) {
    if (processor >= rings_.size()) {
        rings_.resize(static_cast<std::size_t>(processor) + 1);
    }
    return rings_[processor];
}

void StackAttribution::Event(std::uint32_t processor, std::int64_t time, std::uint32_t thread_id, bool any_thread,
                             StackSlot* slot, StackCounts* counts) {
    Ring& ring = RingOf(processor);
    ring.entries[ring.next] = {time, thread_id, any_thread, slot, counts};
    ring.next = (ring.next + 1) % kRingSize;
    if (slot != nullptr) {
        slot->event_time = time;
        slot->stack = kNoStack;
        slot->counted = false;
        slot->joint = nullptr;
    }
}

const StackAttribution::RingEntry* StackAttribution::Find(std::uint32_t processor, std::int64_t time,
                                                          std::uint32_t thread_id) const {
    if (processor >= rings_.size()) {
        return nullptr;
    }
    // A ring's empty entries hold that time: a stack naming it belongs to no event.
    if (time == kNoEvent) {
        return nullptr;
    }
    const Ring& ring = rings_[processor];
    // Newest first: the stack follows its event closely.
    for (std::size_t age = 1; age <= kRingSize; ++age) {
        const RingEntry& entry = ring.entries[(ring.next + kRingSize - age) % kRingSize];
        if (entry.time == time && (entry.any_thread || entry.thread_id == thread_id)) {
            return &entry;
        }
    }
    return nullptr;
}

void StackAttribution::OtherEvent(std::uint32_t processor, std::int64_t time) {
    Ring& ring = RingOf(processor);
    ring.other_events[ring.other_next] = time;
    ring.other_next = (ring.other_next + 1) % kRingSize;
}

void StackAttribution::Unreadable() {
    ++counts_.stacks;
    ++counts_.damaged;
}

void StackAttribution::Stack(std::uint32_t processor, const StackEventData& stack) {
    const bool definition = stack.opcode == kOpcodeStackKeyDelete || stack.opcode == kOpcodeStackKeyRundown;
    if (definition) {
        // A damaged definition leaves its references undefined. It is counted
        // as one stack, as an unreadable one is: `stacks` is then still
        // matched + unmatched + damaged.
        if (stack.frames_read != StackFrames::kWhole) {
            ++counts_.stacks;
            ++counts_.damaged;
            return;
        }
        Define(stack);
        return;
    }
    if (stack.opcode != kOpcodeStack && stack.opcode != kOpcodeStackKeyKernel && stack.opcode != kOpcodeStackKeyUser) {
        return;
    }
    ++counts_.stacks;
    if (stack.frames_read != StackFrames::kWhole) {
        ++counts_.damaged;
        return;
    }
    if (!clock_) {
        ++counts_.unmatched;
        return;
    }
    const std::int64_t time = clock_->ToSystemTime(static_cast<std::int64_t>(stack.EventTimeStamp));
    const RingEntry* const event = Find(processor, time, stack.StackThread);
    if (event == nullptr) {
        const bool other = processor < rings_.size() && time != kNoEvent &&
                           std::find(rings_[processor].other_events.begin(), rings_[processor].other_events.end(),
                                     time) != rings_[processor].other_events.end();
        ++(other ? counts_.of_other_events : counts_.unmatched);
        return;
    }
    ++counts_.matched;
    StackSlot* const slot = event->slot;
    PartId part = kNoPart;
    if (stack.opcode == kOpcodeStack) {
        PartId& last = slot != nullptr ? slot->last_whole : rings_[processor].last_whole;
        part = WholePart(stack, time, last);
        last = part;
    } else {
        part = CachedPart(stack, time);
    }
    // A later event of the thread has taken the slot over.
    if (slot == nullptr || slot->event_time != time) {
        return;
    }
    const StackId before = slot->stack;
    slot->stack = Compose(before, part);
    if (slot->counted) {
        // A count that falls to zero stays: most are taken again by the next
        // wake, and erasing would free and allocate a node each time.
        StackCounts& counts = *event->counts;
        if (before != kNoStack) {
            --counts[before];
        }
        ++counts[slot->stack];
        if (slot->joint != nullptr) {
            WakeStackCounts& joint = *slot->joint;
            --joint.counts[joint.latest];
            joint.latest.*slot->joint_field = slot->stack;
            ++joint.counts[joint.latest];
        }
    }
}

bool StackAttribution::SamePart(PartId id, const StackEventData& stack) const {
    const Part& part = parts_[id];
    return part.process == stack.StackProcess && part.epoch == epoch_ && part.frames == stack.frames;
}

StackAttribution::WholeKey StackAttribution::WholeOrder::KeyOf(PartId id) const {
    const Part& part = (*parts)[id];
    return {part.process, part.epoch, part.frames};
}

bool StackAttribution::WholeOrder::Less(const WholeKey& left, const WholeKey& right) {
    if (left.process != right.process || left.epoch != right.epoch) {
        return std::tie(left.process, left.epoch) < std::tie(right.process, right.epoch);
    }
    return std::lexicographical_compare(left.frames.begin(), left.frames.end(), right.frames.begin(),
                                        right.frames.end());
}

StackAttribution::PartId StackAttribution::WholePart(const StackEventData& stack, std::int64_t time, PartId last) {
    if (last != kNoPart && SamePart(last, stack)) {
        return last;
    }
    if (const auto found = whole_parts_.find(WholeKey{stack.StackProcess, epoch_, stack.frames});
        found != whole_parts_.end()) {
        return *found;
    }
    const auto id = static_cast<PartId>(parts_.size());
    parts_.push_back({stack.StackProcess, epoch_, time, true, 0, stack.frames});
    whole_parts_.insert(id);
    return id;
}

StackAttribution::PartId StackAttribution::CachedPart(const StackEventData& stack, std::int64_t time) {
    const auto [found, added] =
        waiting_parts_.try_emplace({stack.StackKey, stack.StackProcess, epoch_}, static_cast<PartId>(parts_.size()));
    if (added) {
        parts_.push_back({stack.StackProcess, epoch_, time, false, 0, {}});
        cached_.Refer(stack.StackKey, found->second);
    }
    ++parts_[found->second].references;
    return found->second;
}

void StackAttribution::Define(const StackEventData& definition) {
    cached_.Define(definition);
    // Later references to the key are to another stack.
    const auto first = waiting_parts_.lower_bound({definition.StackKey, 0, 0});
    auto last = first;
    while (last != waiting_parts_.end() && std::get<0>(last->first) == definition.StackKey) {
        ++last;
    }
    waiting_parts_.erase(first, last);
}

StackId StackAttribution::Compose(StackId stack, PartId part) {
    if (stack == kNoStack) {
        if (part >= alone_.size()) {
            alone_.resize(static_cast<std::size_t>(part) + 1, kNoStack);
        }
        if (alone_[part] == kNoStack) {
            alone_[part] = static_cast<StackId>(stacks_.size());
            stacks_.emplace_back(part, kNoPart);
        }
        return alone_[part];
    }
    // An event has at most a kernel and a user part; a third replaces the second.
    const std::pair<PartId, PartId> parts{stacks_[stack].first, part};
    const auto [found, added] = stack_ids_.try_emplace(parts, static_cast<StackId>(stacks_.size()));
    if (added) {
        stacks_.push_back(parts);
    }
    return found->second;
}

StackId StackAttribution::Woke(StackSlot& slot, StackCounts& counts, WakeStackCounts& joint,
                               StackId WakeStackKey::*field) {
    if (slot.event_time == kNoEvent || slot.counted) {
        slot.joint = nullptr;
        return kNoStack;
    }
    slot.counted = true;
    slot.joint = &joint;
    slot.joint_field = field;
    if (slot.stack != kNoStack) {
        ++counts[slot.stack];
    }
    return slot.stack;
}

std::vector<ResolvedFrame> StackAttribution::Frames(StackId stack, ModuleMaps& modules) const {
    std::vector<ResolvedFrame> frames;
    if (stack >= stacks_.size()) {
        return frames;
    }
    for (const PartId id : {stacks_[stack].first, stacks_[stack].second}) {
        if (id == kNoPart) {
            continue;
        }
        const Part& part = parts_[id];
        for (const std::uint64_t address : part.frames) {
            frames.push_back(modules.Resolve(part.process, address, part.time));
        }
    }
    return frames;
}

std::uint64_t StackAttribution::undefined_references() const {
    std::uint64_t count = 0;
    for (const Part& part : parts_) {
        if (!part.defined) {
            count += part.references;
        }
    }
    return count;
}

}  // namespace dormiscope::view
