// What the first event of an event class taught about reading the class into
// a record: for each wanted property, where its value lies in the payload when
// that does not depend on the data, or its name to fetch it by otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "etw/property_walk.h"
#include "etw/record_fill.h"
#include "etw/record_layout.h"

namespace dormiscope {

class DecodingPlan {
public:
    // Whether the plan vouches for this event of its class: its payload holds
    // every value the plan copies.
    bool Covers(const EVENT_RECORD& event) const {
        return event.UserDataLength >= payload_needed_ && (payload_needed_ == 0 || event.UserData != nullptr);
    }

    // Reads an event the plan covers.
    void Read(const EVENT_RECORD& event, RecordFill& fill) const;

private:
    friend class PlanLearner;

    struct Copy {
        std::uint16_t source;
        std::uint16_t target;
        std::uint16_t size;
        std::uint64_t required_bit;
    };
    struct Fetch {
        PropertyName name;
        PropertyTarget target;
    };
    // Copies come first: once a property's place depends on the data, so does
    // the place of every later one, and those are fetched.
    std::vector<Copy> copies_;
    std::vector<Fetch> fetches_;
    std::uint32_t payload_needed_ = 0;
    // The schema image the fetched names point into.
    std::optional<EventSchema> schema_;
};

// Watches one event being read through the helper and builds the plan for its
// class from what it sees, checking every value it would later copy against
// the payload.
class PlanLearner {
public:
    PlanLearner(const EVENT_RECORD& event, const EventSchema& schema);

    // Property `index` was asked for; `value` is what the helper answered.
    void Observe(std::size_t index, const PropertyName& name, const PropertyTarget& target,
                 const std::optional<std::span<const std::uint8_t>>& value);

    enum class Outcome {
        kPlan,        // Plan() is ready
        kNotYet,      // this event was too short to show every value; ask again on a later one
        kHelperOnly,  // the class cannot be planned; always read it through the helper
    };
    Outcome Finish(EventSchema schema);
    std::unique_ptr<DecodingPlan> Plan() { return std::move(plan_); }

private:
    const EVENT_RECORD& event_;
    const EventSchema& schema_;
    unsigned pointer_size_;
    // Where the next property starts while every one so far had a size fixed by the schema.
    std::optional<std::uint32_t> next_offset_ = 0;
    bool unseen_copy_ = false;
    bool contradicted_ = false;
    std::unique_ptr<DecodingPlan> plan_ = std::make_unique<DecodingPlan>();
};

}  // namespace dormiscope
