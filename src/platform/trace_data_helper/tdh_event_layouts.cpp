#include "platform/trace_data_helper/tdh_event_layouts.h"

#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

namespace dormiscope {
namespace {

class EventInfoWriter {
public:
    explicit EventInfoWriter(std::size_t property_count)
        : bytes_(offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray) + property_count * sizeof(EVENT_PROPERTY_INFO)) {}

    // Appends a NUL-terminated UTF-16 copy of the text and returns its offset.
    ULONG AppendString(std::u16string_view text) {
        const std::size_t offset = bytes_.size();
        bytes_.resize(offset + (text.size() + 1) * sizeof(char16_t));
        std::memcpy(bytes_.data() + offset, text.data(), text.size() * sizeof(char16_t));
        return static_cast<ULONG>(offset);
    }

    void WriteHeader(const TRACE_EVENT_INFO& header) {
        std::memcpy(bytes_.data(), &header, offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray));
    }

    void WriteProperty(std::size_t index, const EVENT_PROPERTY_INFO& property) {
        std::memcpy(bytes_.data() + offsetof(TRACE_EVENT_INFO, EventPropertyInfoArray) +
                        index * sizeof(EVENT_PROPERTY_INFO),
                    &property, sizeof(property));
    }

    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

void WriteEventInfo(const EventClassSchema& schema, UCHAR opcode, EventLayout& layout) {
    EventInfoWriter writer(schema.properties.size());
    TRACE_EVENT_INFO header{};
    header.ProviderGuid = kSystemTraceProvider;
    header.EventGuid = ProviderOf(schema.event_class);
    header.EventDescriptor.Version = schema.version;
    header.EventDescriptor.Opcode = opcode;
    header.DecodingSource = DecodingSourceWbem;
    header.ProviderNameOffset = writer.AppendString(kSystemTraceProviderName);
    header.TaskNameOffset = writer.AppendString(ClassNameOf(schema.event_class));
    header.OpcodeNameOffset = writer.AppendString(OpcodeNameOf(schema.event_class, opcode));
    header.PropertyCount = static_cast<ULONG>(schema.properties.size());
    header.TopLevelPropertyCount = header.PropertyCount;
    writer.WriteHeader(header);
    std::array<ULONG, kMaxSchemaProperties> name_offsets{};
    for (std::size_t index = 0; index < schema.properties.size(); ++index) {
        const PropertySchema& property = schema.properties[index];
        EVENT_PROPERTY_INFO info{};
        info.NameOffset = writer.AppendString(property.name);
        name_offsets[index] = info.NameOffset;
        info.nonStructType.InType = property.in_type;
        info.nonStructType.OutType = property.out_type;
        info.count = 1;
        // Pointer-sized values have no length of their own: it is the event's.
        info.length = property.fixed_size;
        writer.WriteProperty(index, info);
    }
    layout.event_info = writer.Take();
    layout.property_named_at.assign(layout.event_info.size() / sizeof(char16_t), kNoNameHere);
    for (std::size_t index = 0; index < schema.properties.size(); ++index) {
        layout.property_named_at[name_offsets[index] / sizeof(char16_t)] = static_cast<std::uint8_t>(index);
    }
}

FixedOffsets ComputeFixedOffsets(std::span<const PropertySchema> properties, unsigned pointer_size) {
    FixedOffsets fixed;
    std::uint32_t offset = 0;
    for (const PropertySchema& property : properties) {
        fixed.offsets[fixed.known] = offset;
        if (property.encoding == PropertyEncoding::Fixed) {
            fixed.sizes[fixed.known] = property.fixed_size;
        } else if (property.encoding == PropertyEncoding::Pointer) {
            fixed.sizes[fixed.known] = pointer_size;
        } else {
            ++fixed.known;
            return fixed;
        }
        offset += fixed.sizes[fixed.known++];
    }
    fixed.offsets[fixed.known] = offset;
    return fixed;
}

}  // namespace

EventLayoutCatalog::EventLayoutCatalog() {
    for (const EventClassSchema& schema : KernelEventSchemas()) {
        for (const UCHAR opcode : schema.opcodes) {
            EventLayout& layout = layouts_.emplace_back();
            layout.properties = schema.properties;
            WriteEventInfo(schema, opcode, layout);
            layout.four_byte_pointers = ComputeFixedOffsets(schema.properties, 4);
            layout.eight_byte_pointers = ComputeFixedOffsets(schema.properties, 8);
            index_.at(static_cast<std::size_t>(schema.event_class)).at(schema.version).at(opcode) = &layout;
        }
    }
}

}  // namespace dormiscope
