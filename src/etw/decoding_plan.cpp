#include "etw/decoding_plan.h"

#include <algorithm>
#include <cstring>

namespace dormiscope {
namespace {

// The size a property's value has whatever the data, or 0 when it depends on
// the data (strings, SIDs, counted or sized values, structures) or on a
// pointer size the event does not state.
std::uint32_t FixedSize(const EVENT_PROPERTY_INFO& property, unsigned pointer_size) {
    if (property.Flags != 0 || property.count > 1) {
        return 0;
    }
    switch (property.nonStructType.InType) {
        case TDH_INTYPE_INT8:
        case TDH_INTYPE_UINT8:
            return 1;
        case TDH_INTYPE_INT16:
        case TDH_INTYPE_UINT16:
            return 2;
        case TDH_INTYPE_INT32:
        case TDH_INTYPE_UINT32:
        case TDH_INTYPE_HEXINT32:
            return 4;
        case TDH_INTYPE_INT64:
        case TDH_INTYPE_UINT64:
        case TDH_INTYPE_HEXINT64:
        case TDH_INTYPE_FILETIME:
            return 8;
        case TDH_INTYPE_GUID:
            return 16;
        case TDH_INTYPE_POINTER:
        case TDH_INTYPE_SIZET:
            return pointer_size;
        default:
            return 0;
    }
}

unsigned StatedPointerSize(const EVENT_RECORD& event) {
    switch (event.EventHeader.Flags & (EVENT_HEADER_FLAG_32_BIT_HEADER | EVENT_HEADER_FLAG_64_BIT_HEADER)) {
        case EVENT_HEADER_FLAG_32_BIT_HEADER:
            return 4;
        case EVENT_HEADER_FLAG_64_BIT_HEADER:
            return 8;
        default:
            return 0;
    }
}

}  // namespace

void DecodingPlan::Read(const EVENT_RECORD& event, RecordFill& fill) const {
    const auto* const payload = static_cast<const std::uint8_t*>(event.UserData);
    for (const Copy& copy : copies_) {
        fill.Copy(copy.target, payload + copy.source, copy.size, copy.required_bit);
    }
    if (fetches_.empty()) {
        return;
    }
    std::vector<std::uint8_t> value;
    for (const Fetch& fetch : fetches_) {
        if (const auto fetched = FetchProperty(event, fetch.name, value)) {
            fill.Apply(fetch.target, *fetched);
        }
    }
}

PlanLearner::PlanLearner(const EVENT_RECORD& event, const EventSchema& schema)
    : event_(event), schema_(schema), pointer_size_(StatedPointerSize(event)) {}

void PlanLearner::Observe(std::size_t index, const PropertyName& name, const PropertyTarget& target,
                          const std::optional<std::span<const std::uint8_t>>& value) {
    const std::uint32_t fixed_size =
        next_offset_ ? FixedSize(schema_.Property(static_cast<ULONG>(index)), pointer_size_) : 0;
    if (fixed_size == 0) {
        next_offset_.reset();
        if (target.Wanted()) {
            plan_->fetches_.push_back({name, target});
        }
        return;
    }
    const std::uint32_t offset = *next_offset_;
    next_offset_ = offset + fixed_size;
    if (value) {
        // What the helper answered must be exactly the bytes the plan would copy.
        const auto* const payload = static_cast<const std::uint8_t*>(event_.UserData);
        if (value->size() != fixed_size || payload == nullptr || event_.UserDataLength < offset + fixed_size ||
            std::memcmp(value->data(), payload + offset, fixed_size) != 0) {
            contradicted_ = true;
        }
    }
    if (!target.Wanted()) {
        return;
    }
    if (!value) {
        unseen_copy_ = true;
        return;
    }
    if (target.text != nullptr || offset + fixed_size > UINT16_MAX) {
        // Texts keep the helper's way of cutting them; so do values far out.
        plan_->fetches_.push_back({name, target});
        return;
    }
    const auto size = static_cast<std::uint16_t>(std::min<std::uint32_t>(fixed_size, target.slot->size));
    plan_->copies_.push_back({static_cast<std::uint16_t>(offset), target.slot->offset, size, target.required_bit});
    plan_->payload_needed_ = std::max(plan_->payload_needed_, offset + fixed_size);
}

PlanLearner::Outcome PlanLearner::Finish(EventSchema schema) {
    if (contradicted_) {
        return Outcome::kHelperOnly;
    }
    if (unseen_copy_) {
        return Outcome::kNotYet;
    }
    // Neighbouring values that land next to each other are copied in one go.
    std::vector<DecodingPlan::Copy> merged;
    for (const DecodingPlan::Copy& copy : plan_->copies_) {
        if (!merged.empty()) {
            DecodingPlan::Copy& last = merged.back();
            if (last.source + last.size == copy.source && last.target + last.size == copy.target) {
                last.size = static_cast<std::uint16_t>(last.size + copy.size);
                last.required_bit |= copy.required_bit;
                continue;
            }
        }
        merged.push_back(copy);
    }
    plan_->copies_ = std::move(merged);
    plan_->schema_ = std::move(schema);
    return Outcome::kPlan;
}

}  // namespace dormiscope
