#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "etw/event_records.h"

namespace dormiscope {
namespace {

// Where a property of a given name lands in a record: the fields the model
// reads sit where they sit in the kernel's 64-bit layout, whatever the event's
// version or pointer size, so every version is read by name into one shape.
struct Slot {
    std::u16string_view name;
    std::uint16_t offset;
    std::uint16_t size;
    bool required;
};

constexpr std::array<Slot, 14> kThreadSlots = {{
    {u"ProcessId", 0, 4, true},       {u"TThreadId", 4, 4, true},       {u"StackBase", 8, 8, false},
    {u"StackLimit", 16, 8, false},    {u"UserStackBase", 24, 8, false}, {u"UserStackLimit", 32, 8, false},
    {u"Affinity", 40, 8, false},      {u"Win32StartAddr", 48, 8, false}, {u"TebBase", 56, 8, false},
    {u"SubProcessTag", 64, 4, false}, {u"BasePriority", 68, 1, false},  {u"PagePriority", 69, 1, false},
    {u"IoPriority", 70, 1, false},    {u"ThreadFlags", 71, 1, false},
}};

// From version 4 on, the eighth property is called after its flag bits.
constexpr std::array<Slot, 13> kCSwitchSlots = {{
    {u"NewThreadId", 0, 4, true},
    {u"OldThreadId", 4, 4, true},
    {u"NewThreadPriority", 8, 1, false},
    {u"OldThreadPriority", 9, 1, false},
    {u"PreviousCState", 10, 1, false},
    {u"SpareByte", 11, 1, false},
    {u"OldThreadWaitReason", 12, 1, false},
    {u"OldThreadWaitMode", 13, 1, false},
    {u"OldThreadState", 14, 1, false},
    {u"OldThreadWaitIdealProcessor", 15, 1, false},
    {u"NewThreadWaitTime", 16, 4, false},
    {u"Reserved", 20, 4, false},
    {u"ThreadFlags", 13, 1, false},
}};

constexpr std::array<Slot, 7> kProcessSlots = {{
    {u"UniqueProcessKey", 0, 8, false},
    {u"ProcessId", 8, 4, true},
    {u"ParentId", 12, 4, false},
    {u"SessionId", 16, 4, false},
    {u"ExitStatus", 20, 4, false},
    {u"DirectoryTableBase", 24, 8, false},
    {u"Flags", 32, 4, false},
}};

constexpr std::array<std::u16string_view, 4> kProcessTexts = {u"UserSID", u"ImageFileName", u"CommandLine",
                                                              u"PackageFullName"};
constexpr std::size_t kImageFileNameText = 1;

static_assert(sizeof(WCHAR) == sizeof(char16_t));

// A property's name as it lies in the schema buffer: where it starts and how
// many bytes of the buffer follow, so that comparing never reads past it.
struct PropertyName {
    const std::uint8_t* text;
    std::size_t available;
};

bool NameIs(const PropertyName& name, std::u16string_view expected) {
    const std::size_t bytes = expected.size() * sizeof(char16_t);
    if (bytes + sizeof(char16_t) > name.available || std::memcmp(name.text, expected.data(), bytes) != 0) {
        return false;
    }
    char16_t terminator = 1;
    std::memcpy(&terminator, name.text + bytes, sizeof terminator);
    return terminator == 0;
}

// Finds the slot of a property; properties usually arrive in declared order,
// so the slot at the property's own index is tried first.
template <std::size_t Count>
const Slot* FindSlot(const std::array<Slot, Count>& slots, std::size_t index, const PropertyName& name) {
    if (index < Count && NameIs(name, slots[index].name)) {
        return &slots[index];
    }
    for (const Slot& slot : slots) {
        if (NameIs(name, slot.name)) {
            return &slot;
        }
    }
    return nullptr;
}

// A buffer on the stack for the usual sizes, on the heap beyond them; an
// allocation that fails yields no buffer, as the readers expect.
template <std::size_t StackBytes>
class ScratchBuffer {
public:
    explicit ScratchBuffer(std::size_t size) {
        if (size <= StackBytes) {
            data_ = stack_.data();
        } else {
            heap_.reset(new (std::nothrow) std::uint8_t[size]);
            data_ = heap_.get();
        }
    }
    std::uint8_t* data() const { return data_; }

private:
    alignas(8) std::array<std::uint8_t, StackBytes> stack_;
    std::unique_ptr<std::uint8_t[]> heap_;
    std::uint8_t* data_ = nullptr;
};

// Walks the event's top-level properties in declared order, fetching each by
// the name its schema gives, and hands (index, name, bytes, size) to `use`.
template <typename Use>
void ForEachProperty(const EVENT_RECORD& event, Use&& use) {
    auto* const record = const_cast<EVENT_RECORD*>(&event);
    ULONG info_size = 0;
    if (TdhGetEventInformation(record, 0, nullptr, nullptr, &info_size) != ERROR_INSUFFICIENT_BUFFER) {
        return;
    }
    const ScratchBuffer<2048> info_buffer(info_size);
    if (info_buffer.data() == nullptr) {
        return;
    }
    auto* const info = reinterpret_cast<TRACE_EVENT_INFO*>(info_buffer.data());
    if (TdhGetEventInformation(record, 0, nullptr, info, &info_size) != ERROR_SUCCESS ||
        info_size < offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray)) {
        return;
    }
    const std::size_t described = (info_size - offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray)) /
                                  sizeof(EVENT_PROPERTY_INFO);
    const ULONG count = std::min<ULONG>(info->TopLevelPropertyCount, static_cast<ULONG>(described));
    for (ULONG index = 0; index < count; ++index) {
        const EVENT_PROPERTY_INFO& property = info->EventPropertyInfoArray[index];
        if (property.NameOffset >= info_size) {
            continue;
        }
        const PropertyName name{info_buffer.data() + property.NameOffset, info_size - property.NameOffset};
        PROPERTY_DATA_DESCRIPTOR descriptor{};
        descriptor.PropertyName = reinterpret_cast<ULONGLONG>(name.text);
        descriptor.ArrayIndex = 0;
        ULONG size = 0;
        if (TdhGetPropertySize(record, 0, nullptr, 1, &descriptor, &size) != ERROR_SUCCESS) {
            continue;
        }
        const ScratchBuffer<256> value(size);
        if (value.data() == nullptr) {
            continue;
        }
        if (TdhGetProperty(record, 0, nullptr, 1, &descriptor, size, value.data()) != ERROR_SUCCESS) {
            continue;
        }
        use(index, name, value.data(), size);
    }
}

template <std::size_t Count>
constexpr std::size_t RequiredCount(const std::array<Slot, Count>& slots) {
    std::size_t count = 0;
    for (const Slot& slot : slots) {
        count += slot.required ? 1 : 0;
    }
    return count;
}

template <std::size_t Count, std::size_t Capacity>
bool ReadIntoSlots(const EVENT_RECORD& event, const std::array<Slot, Count>& slots,
                   std::array<std::uint8_t, Capacity>& destination) {
    std::size_t required_read = 0;
    ForEachProperty(event, [&](ULONG index, const PropertyName& name, const std::uint8_t* bytes, ULONG size) {
        const Slot* const slot = FindSlot(slots, index, name);
        if (slot == nullptr) {
            return;
        }
        // Narrower values are widened (the record is zeroed), wider ones keep their low bytes.
        std::memcpy(destination.data() + slot->offset, bytes, std::min<std::size_t>(size, slot->size));
        required_read += slot->required ? 1 : 0;
    });
    return required_read >= RequiredCount(slots);
}

template <typename Record>
void StampRecord(const EVENT_RECORD& event, Record& record) {
    record = Record{};
    record.TimeStamp = event.EventHeader.TimeStamp.QuadPart;
    record.ProcessorNumber = event.BufferContext.ProcessorNumber;
}

}  // namespace

bool ReadEventProperties(const EVENT_RECORD& event, ThreadEventData& record) {
    StampRecord(event, record);
    return ReadIntoSlots(event, kThreadSlots, record.payload);
}

bool ReadEventProperties(const EVENT_RECORD& event, CSwitchEventData& record) {
    StampRecord(event, record);
    return ReadIntoSlots(event, kCSwitchSlots, record.payload);
}

bool ReadProcessEventProperties(const EVENT_RECORD& event, ProcessEventData& record) {
    StampRecord(event, record);
    std::array<std::string*, 4> texts = {&record.text1, &record.text2, &record.text3, &record.text4};
    bool has_id = false;
    bool has_name = false;
    ForEachProperty(event, [&](ULONG index, const PropertyName& name, const std::uint8_t* bytes, ULONG size) {
        if (const Slot* const slot = FindSlot(kProcessSlots, index, name); slot != nullptr) {
            std::memcpy(record.fixedPart.data() + slot->offset, bytes, std::min<std::size_t>(size, slot->size));
            has_id = has_id || slot->required;
            return;
        }
        for (std::size_t text = 0; text < kProcessTexts.size(); ++text) {
            if (NameIs(name, kProcessTexts[text])) {
                // Taken as 8-bit text up to the first zero byte, whatever the property's type.
                const auto* const end = static_cast<const std::uint8_t*>(std::memchr(bytes, 0, size));
                texts[text]->assign(reinterpret_cast<const char*>(bytes),
                                    end == nullptr ? size : static_cast<std::size_t>(end - bytes));
                has_name = has_name || text == kImageFileNameText;
                return;
            }
        }
    });
    return has_id && has_name;
}

}  // namespace dormiscope
