#include "etwdump/event_class_names.h"

#include <array>

namespace dormiscope::etwdump {
namespace {

struct NamedClass {
    std::string_view provider;
    unsigned opcode;
    std::string_view name;
};

constexpr std::string_view kEventTrace = "{68FDD900-4A3E-11D1-84F4-0000F80464E3}";
constexpr std::string_view kProcess = "{3D6FA8D0-FE05-11D0-9DDA-00C04FD7BA7C}";
constexpr std::string_view kThread = "{3D6FA8D1-FE05-11D0-9DDA-00C04FD7BA7C}";
constexpr std::string_view kImage = "{2CB15D1D-5FC1-11D2-ABE1-00A0C911F518}";
constexpr std::string_view kPerfInfo = "{CE1DBFB4-137E-4DA6-87B0-3F59AA102CBC}";
constexpr std::string_view kStackWalk = "{DEF2FE46-7BD6-4B80-BD94-F57FE20D0CE3}";

constexpr std::array kNamedClasses = {
    NamedClass{kEventTrace, 0, "Trace Header"},
    NamedClass{kProcess, 1, "Process Start"},
    NamedClass{kProcess, 2, "Process End"},
    NamedClass{kProcess, 3, "Process DCStart"},
    NamedClass{kProcess, 4, "Process DCEnd"},
    NamedClass{kProcess, 39, "Process Defunct"},
    NamedClass{kThread, 1, "Thread Start"},
    NamedClass{kThread, 2, "Thread End"},
    NamedClass{kThread, 3, "Thread DCStart"},
    NamedClass{kThread, 4, "Thread DCEnd"},
    NamedClass{kThread, 36, "CSwitch"},
    NamedClass{kThread, 50, "ReadyThread"},
    NamedClass{kThread, 72, "Thread SetName"},
    NamedClass{kImage, 2, "Image Unload"},
    NamedClass{kImage, 3, "Image DCStart"},
    NamedClass{kImage, 4, "Image DCEnd"},
    NamedClass{kImage, 10, "Image Load"},
    NamedClass{kPerfInfo, 46, "SampledProfile"},
    NamedClass{kPerfInfo, 66, "ThreadedDPC"},
    NamedClass{kPerfInfo, 67, "ISR"},
    NamedClass{kPerfInfo, 68, "DPC"},
    NamedClass{kPerfInfo, 69, "TimerDPC"},
    NamedClass{kStackWalk, 32, "Stack"},
};

}  // namespace

std::optional<std::string_view> EventClassName(std::string_view provider, unsigned opcode) {
    for (const NamedClass& named : kNamedClasses) {
        if (named.opcode == opcode && named.provider == provider) {
            return named.name;
        }
    }
    return std::nullopt;
}

}  // namespace dormiscope::etwdump
