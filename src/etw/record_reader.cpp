// ReadRecord and ReadRecordThroughHelper: the helper's way for the first
// event of a class, its decoding plan for the others.
#include <cstring>
#include <memory>
#include <vector>

#include "etw/decoding_plan.h"
#include "etw/property_walk.h"
#include "etw/record_fill.h"
#include "etw/record_layout.h"

namespace dormiscope {
namespace {

// Everything the helper's answers for an event depend on: its provider, its
// whole descriptor and the header flags that state pointer size and kind.
struct EventClass {
    GUID provider;
    EVENT_DESCRIPTOR descriptor;
    USHORT flags;
};

constexpr USHORT kClassFlags =
    EVENT_HEADER_FLAG_32_BIT_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER | EVENT_HEADER_FLAG_CLASSIC_HEADER;

bool SameClass(const EventClass& known, const EVENT_HEADER& header) {
    return std::memcmp(&known.provider, &header.ProviderId, sizeof(GUID)) == 0 &&
           std::memcmp(&known.descriptor, &header.EventDescriptor, sizeof(EVENT_DESCRIPTOR)) == 0 &&
           known.flags == (header.Flags & kClassFlags);
}

struct KnownClass {
    EventClass event_class;
    const RecordLayout* layout;
    std::uint64_t required;  // the layout's required mask, worked out once
    std::unique_ptr<DecodingPlan> plan;  // none: read through the helper
    bool learning;                       // no plan yet, but the next event may teach one
};

// Plans live per reading thread, so readers on different threads never share
// one; a trace has a handful of classes, so a list with the last hit first
// in line is all the look-up needs.
class PlanCache {
public:
    KnownClass& Find(const EVENT_HEADER& header, const RecordLayout& layout) {
        if (last_ < known_.size() && Matches(known_[last_], header, layout)) {
            return known_[last_];
        }
        for (last_ = 0; last_ < known_.size(); ++last_) {
            if (Matches(known_[last_], header, layout)) {
                return known_[last_];
            }
        }
        known_.push_back({{header.ProviderId, header.EventDescriptor, static_cast<USHORT>(header.Flags & kClassFlags)},
                          &layout, RequiredMask(layout), nullptr, true});
        return known_.back();
    }

private:
    static bool Matches(const KnownClass& known, const EVENT_HEADER& header, const RecordLayout& layout) {
        return known.layout == &layout && SameClass(known.event_class, header);
    }

    std::vector<KnownClass> known_;
    std::size_t last_ = 0;
};

thread_local PlanCache plan_cache;

// The helper's way; while the class is `learning`, it is watched to learn its plan.
void ReadThroughHelper(const EVENT_RECORD& event, const RecordLayout& layout, RecordFill& fill,
                       KnownClass* learning) {
    std::optional<EventSchema> schema = EventSchema::Of(event);
    if (!schema) {
        return;
    }
    std::optional<PlanLearner> learner;
    if (learning != nullptr) {
        learner.emplace(event, *schema);
    }
    std::vector<std::uint8_t> value;
    for (ULONG index = 0; index < schema->PropertyCount(); ++index) {
        const std::optional<PropertyName> name = schema->NameOf(index);
        if (!name) {
            // A name outside the image cannot be asked for, nor planned past.
            learner.reset();
            continue;
        }
        const PropertyTarget target = TargetOf(layout, index, *name);
        const auto fetched = FetchProperty(event, *name, value);
        if (fetched) {
            fill.Apply(target, *fetched);
        }
        if (learner) {
            learner->Observe(index, *name, target, fetched);
        }
    }
    if (learning == nullptr) {
        return;
    }
    if (!learner) {
        learning->learning = false;
        return;
    }
    // The plan keeps the schema image its fetched names point into.
    switch (learner->Finish(std::move(*schema))) {
        case PlanLearner::Outcome::kPlan:
            learning->plan = learner->Plan();
            learning->learning = false;
            break;
        case PlanLearner::Outcome::kNotYet:
            break;
        case PlanLearner::Outcome::kHelperOnly:
            learning->learning = false;
            break;
    }
}

}  // namespace

bool ReadRecord(const EVENT_RECORD& event, const RecordLayout& layout, std::span<std::uint8_t> fixed,
                std::span<std::string* const> texts) {
    KnownClass& known = plan_cache.Find(event.EventHeader, layout);
    RecordFill fill(fixed, texts, known.required);
    if (known.plan && known.plan->Covers(event)) {
        known.plan->Read(event, fill);
    } else {
        ReadThroughHelper(event, layout, fill, known.learning ? &known : nullptr);
    }
    return fill.AllRequiredRead();
}

bool ReadRecordThroughHelper(const EVENT_RECORD& event, const RecordLayout& layout, std::span<std::uint8_t> fixed,
                             std::span<std::string* const> texts) {
    RecordFill fill(fixed, texts, RequiredMask(layout));
    ReadThroughHelper(event, layout, fill, nullptr);
    return fill.AllRequiredRead();
}

}  // namespace dormiscope
