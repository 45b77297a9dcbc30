#include "app/vendor_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace dormiscope {
namespace {

TEST(CheckProcessorVendorTest, AcceptsOnlyTheExactVendorText) {
    const std::string vendor = ProcessorVendorText();
    ASSERT_EQ(vendor.size(), 12U);
    std::string other_case = vendor;
    std::transform(other_case.begin(), other_case.end(), other_case.begin(),
                   [](char c) { return static_cast<char>(std::islower(static_cast<unsigned char>(c)) ? std::toupper(c) : std::tolower(c)); });

    EXPECT_TRUE(CheckProcessorVendor(vendor));
    EXPECT_FALSE(CheckProcessorVendor(other_case));
    EXPECT_FALSE(CheckProcessorVendor(vendor + "X"));
    EXPECT_FALSE(CheckProcessorVendor(vendor.substr(0, 11)));
    EXPECT_FALSE(CheckProcessorVendor("MadeUpVendor"));
}

}  // namespace
}  // namespace dormiscope
