#include <windows.h>

#include <bit>
#include <cstdint>

#include "platform/system/processors.h"

namespace dormiscope {

unsigned ProcessorsToRunOn() {
    DWORD_PTR process_mask = 0;
    DWORD_PTR system_mask = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process_mask, &system_mask) == 0 || process_mask == 0) {
        return 1;
    }
    return static_cast<unsigned>(std::popcount(static_cast<std::uintptr_t>(process_mask)));
}

}  // namespace dormiscope
