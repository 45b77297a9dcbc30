#include "view/symbols/symbol_frame_names.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "support/temporary_directory.h"
#include "support/windows_image.h"
#include "windows_image/linker_map.h"

namespace dormiscope::symbols {
namespace {

using dormiscope::testing::BuildWindowsImage;
using dormiscope::windows_image::MappedFunction;
using dormiscope::testing::PdbSymbols;
using dormiscope::windows_image::ReadMappedFunctions;
using dormiscope::testing::TemporaryDirectory;
using dormiscope::testing::WindowsImage;

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

TEST(SymbolFrameNames, NamesFunctionsWhereTheModulesPdbIsFoundAndModuleOffsetsElsewhere) {
    TemporaryDirectory folder;
    const WindowsImage image = BuildWindowsImage("int twice(int v) { return v * 2; }\n"
                                                 "int thrice(int v) { return v * 3; }\n",
                                                 folder.path(), "calc", PdbSymbols::kPrivate);
    const std::vector<MappedFunction> functions = ReadMappedFunctions(image.map);
    ASSERT_EQ(functions.size(), 2u);
    ASSERT_EQ(functions[1].name, "thrice");

    const auto module = [](std::u16string path, std::optional<PdbIdentity> pdb) {
        ModuleIdentity identity;
        identity.file_name = std::move(path);
        identity.image_base = 0x1'8000'0000;
        identity.image_size = 0x10000;
        identity.pdb = std::move(pdb);
        return identity;
    };
    PdbIdentity older = image.identity;
    --older.age;
    const ModuleIdentity calc = module(u"C:\\Program Files\\Calc\\calc.dll", image.identity);
    const ModuleIdentity calc_older = module(u"D:\\old\\calc.dll", older);
    const ModuleIdentity no_record = module(u"plain.dll", std::nullopt);

    const std::unique_ptr<SymbolFrameNames> names = NewSymbolFrameNames({folder.path()});
    ASSERT_NE(names, nullptr);
    struct Case {
        ResolvedFrame frame;
        std::string text;
    };
    const Case cases[] = {
        {{&calc, functions[1].start}, "calc.dll!thrice+0x0"},
        {{&calc, functions[1].start + 5}, "calc.dll!thrice+0x5"},
        {{&calc, functions[0].start + 1}, "calc.dll!twice+0x1"},
        {{&calc, 0x10}, "calc.dll+0x10"},  // the image's headers: no function
        {{&calc_older, functions[1].start}, "calc.dll+" + Hex(functions[1].start)},
        {{&no_record, 0x20}, "plain.dll+0x20"},
        {{nullptr, 0xFFFFF800'00001234}, "unknown 0xfffff80000001234"},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(names->Name(test.frame), test.text);
    }
    const SymbolSummary summary = names->Summary().value();
    // plain.dll, which has no identity record, is counted too: its frames cannot be named.
    EXPECT_EQ(summary.modules, 3u);
    EXPECT_EQ(summary.modules_with_symbols, 1u);
    EXPECT_EQ(summary.missing, std::vector<PdbIdentity>{older});
    EXPECT_EQ(summary.without_identity, std::vector<std::string>{"plain.dll"});
    EXPECT_EQ(SymbolSummaryLine(summary).find("Symbols: 1 of 3 modules; missing: "), 0u);
    EXPECT_NE(SymbolSummaryLine(summary).find("; no identity in the trace: plain.dll"), std::string::npos);
    ASSERT_EQ(names->warnings().size(), 1u);  // calc.pdb lies there, but it is the newer build's
    EXPECT_NE(names->warnings()[0].find("another build's PDB"), std::string::npos) << names->warnings()[0];
}

}  // namespace
}  // namespace dormiscope::symbols
