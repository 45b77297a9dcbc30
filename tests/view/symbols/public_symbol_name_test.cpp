#include "view/symbols/public_symbol_name.h"

#include <gtest/gtest.h>

namespace dormiscope::symbols {
namespace {

TEST(PublicSymbolName, ReadsAsPrivateSymbolsNameTheFunction) {
    struct Case {
        const char* name;
        bool x86;
        const char* expected;
    };
    const Case cases[] = {
        {"_KeSetTimer", true, "KeSetTimer"},
        {"_NtWaitForSingleObject@12", true, "NtWaitForSingleObject"},
        {"@KfRaiseIrql@4", true, "KfRaiseIrql"},
        {"__security_check_cookie", true, "_security_check_cookie"},
        {"_name@x1", true, "name@x1"},
        {"?Run@Worker@@QEAAXXZ", false, "Worker::Run"},
        {"?Run@Worker@@QAEXXZ", true, "Worker::Run"},
        {"?Size@Buffer@@QEBA_KXZ", false, "Buffer::Size"},  // a const member
        {"??RCompare@@QEAA_NHH@Z", false, "Compare::operator()"},
        {"??$Max@H@@YAHHH@Z", false, "Max<int>"},
        {"?broken@@", false, "?broken@@"},
        {"_", true, "_"},
        {"_KeSetTimer", false, "_KeSetTimer"},
        {"KiTimerExpiration", false, "KiTimerExpiration"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UndecoratedPublicName(c.name, c.x86), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace dormiscope::symbols
