#include "etw/record_fill.h"

#include <algorithm>
#include <cstring>

namespace dormiscope {
namespace {

// Slots take the low bits of the required mask, texts the ones after them.
std::uint64_t RequiredBit(bool required, std::size_t position) {
    return required && position < 64 ? std::uint64_t{1} << position : 0;
}

std::size_t TextLength(TextForm form, std::span<const std::uint8_t> value) {
    if (form == TextForm::kBytes) {
        const auto* const end = static_cast<const std::uint8_t*>(std::memchr(value.data(), 0, value.size()));
        return end == nullptr ? value.size() : static_cast<std::size_t>(end - value.data());
    }
    std::size_t length = 0;
    while (length + 1 < value.size() && (value[length] | value[length + 1]) != 0) {
        length += 2;
    }
    return length;
}

}  // namespace

PropertyTarget TargetOf(const RecordLayout& layout, std::size_t index, const PropertyName& name) {
    const auto slot_target = [&](std::size_t position) {
        const PropertySlot& slot = layout.slots[position];
        return PropertyTarget{&slot, nullptr, 0, RequiredBit(slot.required, position)};
    };
    if (index < layout.slots.size() && NameIs(name, layout.slots[index].name)) {
        return slot_target(index);
    }
    for (std::size_t position = 0; position < layout.slots.size(); ++position) {
        if (NameIs(name, layout.slots[position].name)) {
            return slot_target(position);
        }
    }
    for (std::size_t position = 0; position < layout.texts.size(); ++position) {
        const PropertyText& text = layout.texts[position];
        if (NameIs(name, text.name)) {
            return PropertyTarget{nullptr, &text, static_cast<std::uint32_t>(position),
                                  RequiredBit(text.required, layout.slots.size() + position)};
        }
    }
    return {};
}

std::uint64_t RequiredMask(const RecordLayout& layout) {
    std::uint64_t required = 0;
    for (std::size_t position = 0; position < layout.slots.size(); ++position) {
        required |= RequiredBit(layout.slots[position].required, position);
    }
    for (std::size_t position = 0; position < layout.texts.size(); ++position) {
        required |= RequiredBit(layout.texts[position].required, layout.slots.size() + position);
    }
    return required;
}

void RecordFill::Apply(const PropertyTarget& target, std::span<const std::uint8_t> value) {
    if (target.slot != nullptr) {
        const std::size_t size = std::min<std::size_t>(value.size(), target.slot->size);
        // A slot that would run past the record is a layout mistake; never write past it.
        if (target.slot->offset + size > fixed_.size()) {
            return;
        }
        std::copy_n(value.data(), size, fixed_.data() + target.slot->offset);
    } else if (target.text != nullptr) {
        if (target.text_index >= texts_.size()) {
            return;
        }
        texts_[target.text_index]->assign(reinterpret_cast<const char*>(value.data()),
                                          TextLength(target.text->form, value));
    } else {
        return;
    }
    read_ |= target.required_bit;
}

}  // namespace dormiscope
