#include "view/symbols/symbol_resolver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "function_offset_printer.h"
#include "support/temporary_directory.h"
#include "support/windows_image.h"
#include "windows_image/linker_map.h"
#include "view/symbols/frame_text.h"

namespace dormiscope::symbols {
namespace {

using dormiscope::testing::Language;
using dormiscope::testing::Machine;
using dormiscope::windows_image::MappedFunction;
using dormiscope::testing::PdbSymbols;
using dormiscope::testing::ReadFile;
using dormiscope::windows_image::ReadMappedFunctions;
using dormiscope::testing::TemporaryDirectory;
using dormiscope::testing::WindowsImage;

// "scale" is static: a private symbol (S_LPROC32) without a public one.
constexpr const char* kSource = R"(
static int scale(int v) { return v * 3 + 1; }
int accumulate(const int *values, int count) {
    int total = 0;
    for (int i = 0; i < count; ++i) total += scale(values[i]);
    return total;
}
int pick(int selector) {
    switch (selector) {
    case 0: return 11;
    case 1: return 23;
    case 2: return 37;
    default: return accumulate(&selector, 1);
    }
}
void fill(volatile char *bytes, int n) { for (int i = 0; i < n; ++i) bytes[i] = (char)i; }
)";

class PdbSymbolsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<TemporaryDirectory>();
        with_private_ = BuildWindowsImage(kSource, folder_->path(), "functions", PdbSymbols::kPrivate);
        public_only_ = BuildWindowsImage(kSource, folder_->path(), "stripped", PdbSymbols::kPublicOnly);
        x86_private_ = BuildWindowsImage(kSource, folder_->path(), "functions32", PdbSymbols::kPrivate, Machine::kX86);
        x86_public_only_ =
            BuildWindowsImage(kSource, folder_->path(), "stripped32", PdbSymbols::kPublicOnly, Machine::kX86);
    }
    static void TearDownTestSuite() { folder_.reset(); }

    static std::unique_ptr<TemporaryDirectory> folder_;
    static WindowsImage with_private_;
    static WindowsImage public_only_;
    static WindowsImage x86_private_;
    static WindowsImage x86_public_only_;

    TemporaryDirectory symbols_;

    // Puts `pdb` where a symbol store keeps the PDB of `identity`.
    std::filesystem::path Store(const std::filesystem::path& pdb, const PdbIdentity& identity) {
        const std::filesystem::path target =
            symbols_ / "store" / PdbFileName(identity) / SymbolStoreKey(identity) / PdbFileName(identity);
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(pdb, target);
        return target;
    }
};

std::unique_ptr<TemporaryDirectory> PdbSymbolsTest::folder_;
WindowsImage PdbSymbolsTest::with_private_;
WindowsImage PdbSymbolsTest::public_only_;
WindowsImage PdbSymbolsTest::x86_private_;
WindowsImage PdbSymbolsTest::x86_public_only_;

TEST_F(PdbSymbolsTest, EveryAddressInsideAFunctionResolvesToItAndItsOffset) {
    struct Case {
        const WindowsImage& image;
        bool x86;
        PdbSymbols symbols;
    };
    const Case cases[] = {{with_private_, false, PdbSymbols::kPrivate},
                          {public_only_, false, PdbSymbols::kPublicOnly},
                          {x86_private_, true, PdbSymbols::kPrivate},
                          {x86_public_only_, true, PdbSymbols::kPublicOnly}};
    for (const Case& c : cases) {
        if (c.symbols == PdbSymbols::kPrivate) {
            Store(c.image.pdb, c.image.identity);
        } else {
            std::filesystem::copy_file(c.image.pdb, symbols_ / c.image.pdb.filename());
        }
    }
    SymbolResolver resolver({symbols_ / "store", symbols_.path()});

    for (const Case& c : cases) {
        const std::vector<MappedFunction> functions = ReadMappedFunctions(c.image.map);
        ASSERT_EQ(functions.size(), 4u);
        for (const MappedFunction& function : functions) {
            // The linker's 32-bit C names carry a leading '_'; the user's do not.
            const std::string name = c.x86 ? function.name.substr(1) : function.name;
            if (name == "scale" && c.symbols == PdbSymbols::kPublicOnly) {
                continue;  // static: no public symbol
            }
            for (std::uint32_t offset = 0; offset < function.size; ++offset) {
                const FunctionOffset* found = resolver.Resolve(c.image.identity, function.start + offset);
                ASSERT_NE(found, nullptr) << c.image.pdb << " " << name << "+" << offset;
                ASSERT_EQ(*found, (FunctionOffset{name, offset})) << c.image.pdb;
            }
        }
    }
    const std::vector<MappedFunction> functions = ReadMappedFunctions(with_private_.map);
    EXPECT_EQ(resolver.Resolve(with_private_.identity, 0), nullptr);  // the image's headers
    EXPECT_EQ(resolver.Resolve(with_private_.identity, 0x1'0000'1000), nullptr);

    const MappedFunction& pick = functions[2];
    ASSERT_EQ(pick.name, "pick");
    EXPECT_EQ(FrameText("functions.dll", pick.start + 4, resolver.Resolve(with_private_.identity, pick.start + 4)),
              "functions.dll!pick+0x4");
    EXPECT_EQ(FrameText("functions.dll", 0x10, resolver.Resolve(with_private_.identity, 0x10)), "functions.dll+0x10");
    EXPECT_EQ(SymbolSummaryLine(resolver.Summary()), "Symbols: 4 of 4 modules");
    EXPECT_TRUE(resolver.warnings().empty());
}

// Member functions, a const one, an operator and a template: public
// symbols keep them mangled, private ones by their qualified names.
TEST_F(PdbSymbolsTest, PublicSymbolsNameCxxFunctionsAsPrivateOnesDo) {
    constexpr const char* kCxx = R"(
struct Worker {
    int count = 0;
    __declspec(dllexport) void Run(int n) { for (int i = 0; i < n; ++i) count += i; }
    __declspec(dllexport) int Size() const { return count * 2; }
    __declspec(dllexport) bool operator()(int a, int b) const { return a < b + count; }
};
template <typename T> T Larger(T a, T b) { return a < b ? b : a; }
__declspec(dllexport) int Use(Worker& w) { w.Run(3); return Larger(w.Size(), 4) + w(1, 2); }
)";
    const WindowsImage with_private = BuildWindowsImage(kCxx, symbols_.path(), "cxx", PdbSymbols::kPrivate,
                                                        Machine::kX64, Language::kCxx);
    const WindowsImage public_only = BuildWindowsImage(kCxx, symbols_.path(), "cxx_stripped", PdbSymbols::kPublicOnly,
                                                       Machine::kX64, Language::kCxx);
    SymbolResolver resolver({symbols_.path()});
    const std::vector<MappedFunction> functions = ReadMappedFunctions(with_private.map);
    ASSERT_EQ(functions.size(), 5u);
    std::vector<std::string> names;
    for (const MappedFunction& function : functions) {
        for (std::uint32_t offset = 0; offset < function.size; ++offset) {
            const FunctionOffset* named = resolver.Resolve(with_private.identity, function.start + offset);
            const FunctionOffset* from_public = resolver.Resolve(public_only.identity, function.start + offset);
            ASSERT_NE(named, nullptr) << function.name;
            ASSERT_NE(from_public, nullptr) << function.name;
            ASSERT_EQ(*from_public, *named);
            ASSERT_EQ(named->offset, offset);
        }
        names.push_back(resolver.Resolve(with_private.identity, function.start)->function);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Larger<int>", "Use", "Worker::Run", "Worker::Size",
                                               "Worker::operator()"}));
}

TEST_F(PdbSymbolsTest, APdbOfAnotherGuidOrAgeIsNeverUsed) {
    const auto other = [](PdbIdentity identity, void (*change)(PdbIdentity&)) {
        change(identity);
        return identity;
    };
    const PdbIdentity cases[] = {
        other(with_private_.identity, [](PdbIdentity& id) { ++id.age; }),
        other(with_private_.identity, [](PdbIdentity& id) { id.age = 0; }),
        other(with_private_.identity, [](PdbIdentity& id) { id.guid[0] ^= 1; }),
        other(with_private_.identity, [](PdbIdentity& id) { id.guid[15] ^= 0x80; }),
    };
    const std::uint32_t inside = ReadMappedFunctions(with_private_.map).front().start;
    for (const PdbIdentity& asked : cases) {
        TemporaryDirectory folder;
        const std::filesystem::path stored = Store(with_private_.pdb, asked);  // filed under the asked identity
        std::filesystem::copy_file(with_private_.pdb, folder / "functions.pdb");
        SymbolResolver resolver({symbols_ / "store", folder.path()});

        EXPECT_EQ(resolver.Resolve(asked, inside), nullptr) << DescribePdb(asked);
        ASSERT_EQ(resolver.warnings().size(), 2u);
        EXPECT_NE(resolver.warnings()[0].find("another build's PDB"), std::string::npos);
        EXPECT_EQ(SymbolSummaryLine(resolver.Summary()), "Symbols: 0 of 1 modules; missing: " + DescribePdb(asked));
        std::filesystem::remove_all(symbols_ / "store");
    }
}

TEST_F(PdbSymbolsTest, ADamagedOrTruncatedPdbGivesAWarningAndNoNames) {
    const std::string pdb = ReadFile(with_private_.pdb);
    const std::size_t block = 4096;
    ASSERT_GT(pdb.size(), 4 * block);
    struct Damage {
        const char* what;
        std::string bytes;
    };
    const auto overwrite = [&pdb](std::size_t at, std::string with) {
        std::string damaged = pdb;
        damaged.replace(at, with.size(), with);
        return damaged;
    };
    const Damage cases[] = {
        {"empty", ""},
        {"half a superblock", pdb.substr(0, 28)},
        {"superblock only", pdb.substr(0, block)},
        {"cut in half", pdb.substr(0, pdb.size() / 2)},
        {"last block cut short", pdb.substr(0, pdb.size() - 1)},
        {"no magic", overwrite(0, "Not a PDB at all")},
        {"huge block count", overwrite(36, std::string("\xff\xff\xff\x7f", 4))},
        {"directory size beyond the file", overwrite(44, std::string("\xff\xff\xff\x0f", 4))},
        {"directory block map past the end", overwrite(52, std::string("\xff\xff\x00\x00", 4))},
    };
    const std::uint32_t inside = ReadMappedFunctions(with_private_.map).front().start;
    for (const Damage& damage : cases) {
        TemporaryDirectory folder;
        std::ofstream(folder / "functions.pdb", std::ios::binary) << damage.bytes;
        SymbolResolver resolver({folder.path()});

        EXPECT_EQ(resolver.Resolve(with_private_.identity, inside), nullptr) << damage.what;
        EXPECT_EQ(resolver.Resolve(with_private_.identity, inside + 1), nullptr) << damage.what;
        ASSERT_EQ(resolver.warnings().size(), 1u) << damage.what;  // the file is read once
        EXPECT_EQ(resolver.warnings()[0].rfind("cannot read the PDB " + (folder / "functions.pdb").string() + ": ", 0),
                  0u)
            << resolver.warnings()[0];
        // Found but unreadable: listed as such, not as missing.
        EXPECT_EQ(resolver.Summary().unreadable, std::vector<PdbIdentity>{with_private_.identity}) << damage.what;
        EXPECT_TRUE(resolver.Summary().missing.empty()) << damage.what;
    }
}

// LLVM's reader dereferences null on this file (a PDB stream marked deleted):
// the reading process dies, the view goes on with the other modules.
TEST_F(PdbSymbolsTest, APdbThatCrashesTheReaderCostsOnlyItsOwnNames) {
    const std::filesystem::path crashing = symbols_ / "functions.pdb";
    std::filesystem::copy_file(std::filesystem::path(DORMISCOPE_PDB_REGRESSIONS_DIR) / "nil-pdb-stream.pdb", crashing);
    Store(public_only_.pdb, public_only_.identity);
    SymbolResolver resolver({symbols_ / "store", symbols_.path()});
    const MappedFunction function = ReadMappedFunctions(with_private_.map).front();

    EXPECT_EQ(resolver.Resolve(with_private_.identity, function.start), nullptr);
    EXPECT_EQ(resolver.Resolve(with_private_.identity, function.start + 1), nullptr);
    const FunctionOffset* other = resolver.Resolve(public_only_.identity, ReadMappedFunctions(public_only_.map)[1].start);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(resolver.warnings(), std::vector<std::string>{"the PDB " + crashing.string() +
                                                            " could not be read (its reading process ended by "
                                                            "signal 11: Segmentation fault)"});
    EXPECT_EQ(resolver.Summary().unreadable, std::vector<PdbIdentity>{with_private_.identity});
    EXPECT_EQ(resolver.Summary().modules_with_symbols, 1u);
}

TEST_F(PdbSymbolsTest, EachAddressIsLookedUpOnceAndItsNameStaysPut) {
    Store(with_private_.pdb, with_private_.identity);
    SymbolResolver resolver({symbols_ / "store"});
    const std::uint32_t inside = ReadMappedFunctions(with_private_.map).front().start + 2;
    const FunctionOffset* first = resolver.Resolve(with_private_.identity, inside);
    ASSERT_NE(first, nullptr);
    const FunctionOffset expected = *first;
    for (std::uint32_t age = 100; age < 140; ++age) {  // modules asked for later
        PdbIdentity other = with_private_.identity;
        other.age = age;
        EXPECT_EQ(resolver.Resolve(other, inside), nullptr);
    }
    EXPECT_EQ(resolver.Resolve(with_private_.identity, inside), first);
    EXPECT_EQ(*first, expected);
    EXPECT_EQ(resolver.warnings().size(), 0u);
    EXPECT_EQ(resolver.Summary().missing.size(), 40u);
}

}  // namespace
}  // namespace dormiscope::symbols
