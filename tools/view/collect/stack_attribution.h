// Which stack belongs to which wake. The kernel logs an event's stack right
// after the event, on the same processor, naming the event by its raw time
// stamp: a context switch's stack is where the old thread waits, a ready's is
// the readying code. Each processor keeps a short ring of its latest events
// to find the one a stack names; the stack then fills the slot the wake
// collector gave that event, and counts once the wake it explains has come.
// Stacks are interned (one entry per distinct stack, whole or from the
// kernel's stack cache) and turned into modules only at the end.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "etw/stack_event_records.h"
#include "platform/etl_reader/time_conversion.h"
#include "view/collect/readier_id.h"
#include "view/stacks/cached_stacks.h"
#include "view/stacks/module_maps.h"

namespace dormiscope::view {

using StackId = std::uint32_t;
inline constexpr StackId kNoStack = 0;
// Addresses of one process at one time: a whole stack, or one part of a cached one.
using StackPartId = std::uint32_t;
inline constexpr StackPartId kNoStackPart = std::numeric_limits<StackPartId>::max();
inline constexpr std::int64_t kNoEvent = std::numeric_limits<std::int64_t>::min();

// What one wake showed at once: where it waited, what readied it, who, and
// whether it pulled a processor out of idle.
struct WakeStackKey {
    StackId wait = kNoStack;
    StackId readying = kNoStack;
    bool readied = false;  // a ready came before the wake
    ReadierId readier;     // a DPC's routine is not known yet: kRoutineNotRecorded
    bool idle = false;
    bool operator==(const WakeStackKey&) const = default;
};

struct WakeStackKeyHash {
    std::size_t operator()(const WakeStackKey& key) const {
        std::uint64_t hash = (std::uint64_t{key.wait} << 32 | key.readying) * 0x9E3779B97F4A7C15ULL;
        hash ^= (std::uint64_t{key.readier.thread_id} << 32 | key.readier.process_id) + 0x632BE59BD9B4E019ULL +
                (hash << 6) + (hash >> 2);
        return static_cast<std::size_t>(hash ^ (static_cast<std::uint64_t>(key.readier.kind) << 2) ^
                                        (key.readied ? 1U : 0U) ^ (key.idle ? 2U : 0U));
    }
};

// Wakes per key: every distinct combination a thread's wakes showed. A later
// part of either stack moves the latest wake to its new key, as it moves the
// stack's own count.
struct WakeStackCounts {
    std::unordered_map<WakeStackKey, std::uint64_t, WakeStackKeyHash> counts;
    WakeStackKey latest;
};

// The stack of one event, on its way to the wake it explains.
struct StackSlot {
    std::int64_t event_time = kNoEvent;
    StackId stack = kNoStack;
    bool counted = false;  // the wake has come: a later part moves the count
    // The whole stack last seen here: a thread mostly waits, and is readied,
    // where it was the time before, which is checked before any look-up.
    StackPartId last_whole = kNoStackPart;
    // The wake the stack was counted for, while it is the thread's latest:
    // which field of `joint->latest` this slot's stack fills.
    WakeStackCounts* joint = nullptr;
    StackId WakeStackKey::*joint_field = nullptr;
};

// Wakes per stack; a stack whose wakes all moved to a longer one counts 0.
using StackCounts = std::unordered_map<StackId, std::uint64_t>;

struct StackEventCounts {
    std::uint64_t stacks = 0;  // events carrying a stack or a reference to one
    std::uint64_t matched = 0;
    std::uint64_t of_other_events = 0;  // of events of kinds the view does not use
    std::uint64_t unmatched = 0;
    std::uint64_t damaged = 0;  // truncated, oversized or unreadable
};

class StackAttribution {
public:
    StackAttribution();
    // Its parts are found through itself: it stays where it was made.
    StackAttribution(const StackAttribution&) = delete;
    StackAttribution& operator=(const StackAttribution&) = delete;

    // Without a clock no stack can be matched: each is counted unmatched.
    void SetClock(std::optional<TimeConverter> clock) { clock_ = clock; }

    // A context switch or ready on `processor`. Its stack names `thread_id`
    // (any thread when `any_thread`) and goes to `slot`, counted in `counts`;
    // both null when nobody is shown its stack. Resets the slot.
    void Event(std::uint32_t processor, std::int64_t time, std::uint32_t thread_id, bool any_thread, StackSlot* slot,
               StackCounts* counts);
    // An event of a kind the view does not use (a profiling sample, disk
    // I/O, …): its stack is told apart from a stack that matches nothing.
    void OtherEvent(std::uint32_t processor, std::int64_t time);
    // Any event of the stack-walk group, read whole or not.
    void Stack(std::uint32_t processor, const StackEventData& stack);
    void Unreadable();
    // A module was loaded or unloaded: the same addresses may mean other code from now on.
    void ImagesChanged() { ++epoch_; }

    // The wake `slot`'s event precedes has come: the stack counted for it,
    // kNoStack when none (or when it was counted before). Until the slot's
    // next event, a later part moves the wake in `joint` too, whose latest
    // key the caller sets with this stack in `field`.
    static StackId Woke(StackSlot& slot, StackCounts& counts, WakeStackCounts& joint,
                        StackId WakeStackKey::*field);

    // After the last event: the frames of a stack, leaf first, kernel part
    // before user part; empty when no part of it was ever defined.
    std::vector<ResolvedFrame> Frames(StackId stack, ModuleMaps& modules) const;

    const StackEventCounts& counts() const { return counts_; }
    // References to cache keys that were never defined.
    std::uint64_t undefined_references() const;

private:
    using PartId = StackPartId;
    static constexpr PartId kNoPart = kNoStackPart;
    static constexpr std::size_t kRingSize = 8;
    static constexpr std::array<std::int64_t, kRingSize> NoEvents() {
        std::array<std::int64_t, kRingSize> times{};
        times.fill(kNoEvent);
        return times;
    }

    struct RingEntry {
        std::int64_t time = kNoEvent;
        std::uint32_t thread_id = 0;
        bool any_thread = false;
        StackSlot* slot = nullptr;
        StackCounts* counts = nullptr;
    };
    struct Ring {
        std::array<RingEntry, kRingSize> entries;
        std::size_t next = 0;
        PartId last_whole = kNoPart;  // of the events nobody is shown the stack of
        // The latest events of kinds the view does not use, newest at other_next - 1.
        std::array<std::int64_t, kRingSize> other_events = NoEvents();
        std::size_t other_next = 0;
    };
    // Addresses of one process, looked up as the modules were at `time`.
    struct Part {
        std::uint32_t process = 0;
        std::uint32_t epoch = 0;
        std::int64_t time = 0;
        bool defined = false;
        std::uint64_t references = 0;  // of a cached part
        std::vector<std::uint64_t> frames;
    };

    Ring& RingOf(std::uint32_t processor);

    // A whole part as the look-up sees it: the part itself, or a stack being read.
    struct WholeKey {
        std::uint32_t process;
        std::uint32_t epoch;
        std::span<const std::uint64_t> frames;
    };
    // Orders whole parts by their contents, never by a hash: the addresses
    // come from the trace, and equal hashes are easy to make.
    struct WholeOrder {
        using is_transparent = void;
        const std::vector<Part>* parts;
        WholeKey KeyOf(PartId id) const;
        static WholeKey KeyOf(const WholeKey& key) { return key; }
        template <typename Left, typename Right>
        bool operator()(const Left& left, const Right& right) const {
            return Less(KeyOf(left), KeyOf(right));
        }
        static bool Less(const WholeKey& left, const WholeKey& right);
    };

    const RingEntry* Find(std::uint32_t processor, std::int64_t time, std::uint32_t thread_id) const;
    bool SamePart(PartId id, const StackEventData& stack) const;
    PartId WholePart(const StackEventData& stack, std::int64_t time, PartId last);
    PartId CachedPart(const StackEventData& stack, std::int64_t time);
    void Define(const StackEventData& definition);
    StackId Compose(StackId stack, PartId part);

    std::optional<TimeConverter> clock_;
    std::vector<Ring> rings_;
    std::uint32_t epoch_ = 0;
    std::vector<Part> parts_;
    std::set<PartId, WholeOrder> whole_parts_{WholeOrder{&parts_}};
    // Cached parts waiting for their key's definition: key, process, epoch.
    std::map<std::tuple<std::uint64_t, std::uint32_t, std::uint32_t>, PartId> waiting_parts_;
    CachedStacks cached_;
    std::vector<std::pair<PartId, PartId>> stacks_;  // by StackId; the first is kNoStack's
    std::vector<StackId> alone_;  // by PartId: the stack of that part alone
    std::map<std::pair<PartId, PartId>, StackId> stack_ids_;  // of two parts
    StackEventCounts counts_;
};

}  // namespace dormiscope::view
