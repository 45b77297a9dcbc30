#include "platform/event_batch.h"

namespace dormiscope {

EventBatch::EventBatch() {
    records_.reserve(kEvents);
    placements_.reserve(kEvents);
}

void EventBatch::Add(const EVENT_RECORD& record) {
    // The copies land in growing vectors: their addresses are only known
    // once the batch is complete, so positions are kept until Seal().
    const auto* const payload = static_cast<const std::uint8_t*>(record.UserData);
    placements_.push_back({bytes_.size(), items_.size()});
    if (record.UserDataLength != 0) {
        bytes_.insert(bytes_.end(), payload, payload + record.UserDataLength);
    }
    for (USHORT index = 0; index < record.ExtendedDataCount; ++index) {
        const EVENT_HEADER_EXTENDED_DATA_ITEM& item = record.ExtendedData[index];
        const auto* const data = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(item.DataPtr));
        items_.push_back(item);
        item_data_.push_back(bytes_.size());
        bytes_.insert(bytes_.end(), data, data + item.DataSize);
    }
    records_.push_back(record);
}

void EventBatch::Seal() {
    for (std::size_t index = 0; index < items_.size(); ++index) {
        items_[index].DataPtr = reinterpret_cast<std::uintptr_t>(bytes_.data() + item_data_[index]);
    }
    for (std::size_t index = 0; index < records_.size(); ++index) {
        EVENT_RECORD& record = records_[index];
        const Placement& placement = placements_[index];
        record.UserData = bytes_.data() + placement.user_data;
        record.ExtendedData = record.ExtendedDataCount == 0 ? nullptr : items_.data() + placement.first_item;
    }
}

void EventBatch::Clear() {
    records_.clear();
    placements_.clear();
    bytes_.clear();
    items_.clear();
    item_data_.clear();
}

}  // namespace dormiscope
