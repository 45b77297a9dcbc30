#include "etwdump/event_class_names.h"

#include <array>
#include <optional>
#include <string_view>

#include "etwdump/json_text.h"
#include "platform/kernel_event_classes.h"

namespace dormiscope::etwdump {
namespace {

struct GroupOpcode {
    std::uint8_t group;
    std::uint8_t opcode;
    std::string_view name;
};

// Opcodes of groups whose payloads nothing here decodes, named only for people.
constexpr std::array kOtherOpcodes = {
    GroupOpcode{kGroupEventTrace, kOpcodeHeader, "Header"},
    GroupOpcode{kGroupImage, kOpcodeEnd, "Unload"},
    GroupOpcode{kGroupImage, kOpcodeDCStart, "DCStart"},
    GroupOpcode{kGroupImage, kOpcodeDCEnd, "DCEnd"},
    GroupOpcode{kGroupImage, 10, "Load"},
    GroupOpcode{kGroupPerfInfo, 46, "SampledProfile"},
    GroupOpcode{kGroupPerfInfo, 66, "ThreadedDPC"},
    GroupOpcode{kGroupPerfInfo, 67, "ISR"},
    GroupOpcode{kGroupPerfInfo, 68, "DPC"},
    GroupOpcode{kGroupPerfInfo, 69, "TimerDPC"},
    GroupOpcode{kGroupStackWalk, 32, "Stack"},
};

// Group names are ASCII.
std::string Narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

std::optional<std::uint8_t> GroupOf(const GUID& provider) {
    for (std::size_t group = 0; group < kKernelGroups.size(); ++group) {
        if (SameGuid(provider, kKernelGroups[group].provider)) {
            return static_cast<std::uint8_t>(group);
        }
    }
    return std::nullopt;
}

std::string OpcodeName(const GUID& provider, std::uint8_t group, std::uint8_t opcode) {
    if (const std::optional<KernelEventClass> event_class = KernelEventClassOf(provider)) {
        return Narrow(OpcodeNameOf(*event_class, opcode));
    }
    for (const GroupOpcode& named : kOtherOpcodes) {
        if (named.group == group && named.opcode == opcode) {
            return std::string(named.name);
        }
    }
    return {};
}

}  // namespace

std::string EventClassName(const GUID& provider, std::uint8_t opcode) {
    const std::optional<std::uint8_t> group = GroupOf(provider);
    if (!group) {
        return GuidText(provider) + " opcode " + std::to_string(opcode);
    }
    const std::string opcode_name = OpcodeName(provider, *group, opcode);
    return Narrow(kKernelGroups[*group].name) + " " +
           (opcode_name.empty() ? "opcode " + std::to_string(opcode) : opcode_name);
}

}  // namespace dormiscope::etwdump
