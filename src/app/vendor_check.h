// Refuses processors whose vendor identification is not the accepted one.
#pragma once

#include <string>

namespace dormiscope {

// The processor's 12-character vendor text from identification leaf 0.
std::string ProcessorVendorText();

// True when the processor reports exactly `expected`; logs the refusal otherwise.
bool CheckProcessorVendor(std::string expected);

}  // namespace dormiscope
