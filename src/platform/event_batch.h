// Events decoded ahead of delivery, with copies of everything their records
// point at, so they outlive the buffers they came from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/etw_api.h"

namespace dormiscope {

class EventBatch {
public:
    static constexpr std::size_t kEvents = 4096;

    EventBatch();

    // Copies the record, its payload and its extended items in.
    void Add(const EVENT_RECORD& record);
    bool Full() const { return records_.size() == kEvents; }

    // Points the copied records at their copied bytes; call once all are added.
    void Seal();
    std::vector<EVENT_RECORD>& Records() { return records_; }

    void Clear();

private:
    struct Placement {
        std::size_t user_data;
        std::size_t first_item;
    };

    std::vector<EVENT_RECORD> records_;
    std::vector<Placement> placements_;
    std::vector<std::uint8_t> bytes_;
    std::vector<EVENT_HEADER_EXTENDED_DATA_ITEM> items_;
    std::vector<std::size_t> item_data_;
};

}  // namespace dormiscope
