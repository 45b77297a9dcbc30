#include "windows_image/linker_map.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/temporary_directory.h"

namespace dormiscope::windows_image {
namespace {

std::vector<MappedFunction> FunctionsOf(const std::string& map) {
    const testing::TemporaryDirectory directory;
    std::ofstream(directory / "image.map", std::ios::binary) << map;
    return ReadMappedFunctions(directory / "image.map");
}

// Only symbols at the start of an input section of .text count, whatever the
// object's path looks like; data symbols and malformed lines do not.
TEST(LinkerMap, ReadsTheFunctionsOfTheCodeSections) {
    struct Case {
        const char* what;
        std::string object;
    };
    const std::vector<Case> cases = {
        {"bare object name", "program.obj"},
        {"relative path with ..", "../../tools/program.obj"},
        {"relative path with .", "./program.obj"},
    };
    for (const Case& c : cases) {
        const std::string map = "Address  Size     Align Out     In      Symbol\n"
                                "00001000 00000060  4096 .text\n"
                                "00001000 00000000     4         " + c.object + ":(.text)\n"
                                "00001000 0000002c    16         " + c.object + ":(.text)\n"
                                "00001000 00000000     0                 WaitForChange\n"
                                "00001030 00000030    16         " + c.object + ":(.text)\n"
                                "00001030 00000000     0                 RunTimerLoop\n"
                                "00001040 zz        16         " + c.object + ":(.text)\n"
                                "00001040 00000000     0                 NotAFunction\n"
                                "00003000 00000004  4096 .data\n"
                                "00003000 00000004     4         " + c.object + ":(.bss)\n"
                                "00003000 00000000     0                 pending\n";
        EXPECT_EQ(FunctionsOf(map), (std::vector<MappedFunction>{{"WaitForChange", 0x1000, 0x2c},
                                                                 {"RunTimerLoop", 0x1030, 0x30}}))
            << c.what;
    }
}

TEST(LinkerMap, AMissingMapHasNoFunctions) {
    const testing::TemporaryDirectory directory;
    EXPECT_TRUE(ReadMappedFunctions(directory / "none.map").empty());
}

}  // namespace
}  // namespace dormiscope::windows_image
