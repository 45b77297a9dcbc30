// ReadRecord and ReadRecordThroughHelper: the helper's way for the first
// event of a class, its decoding plan for the others.
#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "etw/decoding_plan.h"
#include "etw/property_walk.h"
#include "etw/record_fill.h"
#include "etw/record_layout.h"

namespace dormiscope {
namespace {

// Everything the helper's answers for an event depend on: its provider, its
// whole descriptor and the header flags that state pointer size and kind;
// and the layout it is read into. Ordered by its bytes.
struct ClassKey {
    std::array<std::uint8_t, sizeof(GUID) + sizeof(EVENT_DESCRIPTOR) + sizeof(USHORT)> bytes;
    const RecordLayout* layout;

    friend bool operator<(const ClassKey& left, const ClassKey& right) {
        return std::tie(left.bytes, left.layout) < std::tie(right.bytes, right.layout);
    }
    friend bool operator==(const ClassKey& left, const ClassKey& right) = default;
};

constexpr USHORT kClassFlags =
    EVENT_HEADER_FLAG_32_BIT_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER | EVENT_HEADER_FLAG_CLASSIC_HEADER;

ClassKey KeyOf(const EVENT_HEADER& header, const RecordLayout& layout) {
    ClassKey key{{}, &layout};
    const auto flags = static_cast<USHORT>(header.Flags & kClassFlags);
    std::memcpy(key.bytes.data(), &header.ProviderId, sizeof(GUID));
    std::memcpy(key.bytes.data() + sizeof(GUID), &header.EventDescriptor, sizeof(EVENT_DESCRIPTOR));
    std::memcpy(key.bytes.data() + sizeof(GUID) + sizeof(EVENT_DESCRIPTOR), &flags, sizeof flags);
    return key;
}

struct KnownClass {
    std::uint64_t required;  // the layout's required mask, worked out once
    std::unique_ptr<DecodingPlan> plan;  // none: read through the helper
    bool learning;                       // no plan yet, but the next event may teach one
};

// Plans live per reading thread, so readers on different threads never share
// one. A trace has a handful of classes, so the last hit is tried first; a
// hostile one may name millions, so the others are found in an ordered map.
class PlanCache {
public:
    KnownClass& Find(const EVENT_HEADER& header, const RecordLayout& layout) {
        const ClassKey key = KeyOf(header, layout);
        if (last_ != known_.end() && last_->first == key) {
            return last_->second;
        }
        last_ = known_.try_emplace(key, KnownClass{RequiredMask(layout), nullptr, true}).first;
        return last_->second;
    }

    void Clear() {
        known_.clear();
        last_ = known_.end();
    }

private:
    std::map<ClassKey, KnownClass> known_;
    std::map<ClassKey, KnownClass>::iterator last_ = known_.end();
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

void ForgetDecodingPlans() {
    plan_cache.Clear();
}

bool ReadRecordThroughHelper(const EVENT_RECORD& event, const RecordLayout& layout, std::span<std::uint8_t> fixed,
                             std::span<std::string* const> texts) {
    RecordFill fill(fixed, texts, RequiredMask(layout));
    ReadThroughHelper(event, layout, fill, nullptr);
    return fill.AllRequiredRead();
}

}  // namespace dormiscope
