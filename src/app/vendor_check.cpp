#include "app/vendor_check.h"

#include <cpuid.h>

#include <array>
#include <cstring>

#include "log/logger.h"

namespace dormiscope {
namespace {

// Leaf 0's vendor text (EBX, EDX, ECX) at the start of a zeroed 32-byte buffer.
std::array<char, 32> ReadVendorBuffer() {
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    __cpuid_count(0, 0, eax, ebx, ecx, edx);
    std::array<char, 32> buffer{};
    std::memcpy(buffer.data(), &ebx, 4);
    std::memcpy(buffer.data() + 4, &edx, 4);
    std::memcpy(buffer.data() + 8, &ecx, 4);
    return buffer;
}

}  // namespace

std::string ProcessorVendorText() {
    return ReadVendorBuffer().data();
}

bool CheckProcessorVendor(std::string expected) {
    const std::array<char, 32> vendor = ReadVendorBuffer();
    if (std::strcmp(vendor.data(), expected.c_str()) == 0) {
        return true;
    }
    Logger::Instance().Stream(LEVEL_INFO) << "Incorrect target architecture : " << expected << "\n";
    return false;
}

}  // namespace dormiscope
