#include "view/program/symbol_setup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "support/temporary_directory.h"

namespace dormiscope::view {
namespace {

using dormiscope::testing::TemporaryDirectory;

// Stands in for the PDB reader: remembers the folders it was given.
class RecordingNames final : public symbols::SymbolFrameNames {
public:
    explicit RecordingNames(std::vector<std::filesystem::path> folders) : folders(std::move(folders)) {}
    std::string Name(const ResolvedFrame&) override { return {}; }
    const std::vector<std::string>& warnings() const override { return no_warnings_; }

    std::vector<std::filesystem::path> folders;

private:
    std::vector<std::string> no_warnings_;
};

std::unique_ptr<symbols::SymbolFrameNames> Recording(std::vector<std::filesystem::path> folders) {
    return std::make_unique<RecordingNames>(std::move(folders));
}

std::unique_ptr<symbols::SymbolFrameNames> Unavailable(std::vector<std::filesystem::path>) {
    return nullptr;
}

std::vector<std::filesystem::path> FoldersOf(const SymbolSetup& setup) {
    return setup.names ? static_cast<const RecordingNames&>(*setup.names).folders
                       : std::vector<std::filesystem::path>{};
}

TEST(SymbolSetup, GivenFoldersComeBeforeTheVariablesAndServersAreOnlyNamed) {
    TemporaryDirectory given;
    TemporaryDirectory local_folder;
    const std::string folder = given.path().string();
    const std::string local = local_folder.path().string();
    const std::string absent = (local_folder / "absent").string();
    const std::string server_only_notice_start = "_NT_SYMBOL_PATH names only symbol servers (https://symbols.example)";
    struct Case {
        const char* what;
        std::vector<std::filesystem::path> given;
        std::optional<std::string> variable;  // none: not set
        NewFrameNames new_names;
        std::vector<std::filesystem::path> folders;  // empty: no symbol names
        std::string notice;                          // the start of the one notice, or none
    };
    const Case cases[] = {
        {"nothing asked", {}, std::nullopt, Recording, {}, ""},
        {"--symbols", {folder}, std::nullopt, Recording, {folder}, ""},
        {"the cache of a server path", {}, "srv*" + local + "*https://symbols.example", Recording, {local}, ""},
        {"both", {folder}, local + ";srv*https://symbols.example", Recording, {folder, local}, ""},
        {"a folder that is not there", {}, absent + ";" + local, Recording, {local},
         "_NT_SYMBOL_PATH names a folder that does not exist, left out: " + absent},
        {"the cache of a server path that is not there", {folder}, "srv*" + absent + "*https://x.example",
         Recording, {folder}, "_NT_SYMBOL_PATH names a folder that does not exist, left out: " + absent},
        {"only folders that are not there", {}, "/no/such;" + absent, Recording, {},
         "_NT_SYMBOL_PATH names folders that do not exist, left out: /no/such, " + absent},
        {"servers only", {}, "srv*https://symbols.example", Recording, {}, server_only_notice_start},
        {"servers only beside --symbols", {folder}, "srv*https://symbols.example", Recording, {folder}, ""},
        {"an empty variable", {}, "", Recording, {}, ""},
        {"no reader, --symbols", {folder}, std::nullopt, Unavailable, {}, "symbols are not available in this build"},
        {"no reader, the variable alone", {}, "srv*https://symbols.example", Unavailable, {}, ""},
        {"no reader, a local folder", {}, "/local", Unavailable, {}, ""},
    };
    for (const Case& test : cases) {
        const char* const variable = test.variable ? test.variable->c_str() : nullptr;
        const SymbolSetup setup = SetUpSymbols(test.given, variable, test.new_names);
        EXPECT_FALSE(setup.refusal) << test.what;
        EXPECT_EQ(FoldersOf(setup), test.folders) << test.what;
        if (test.notice.empty()) {
            EXPECT_TRUE(setup.notices.empty()) << test.what << ": " << setup.notices.front();
        } else {
            ASSERT_EQ(setup.notices.size(), 1u) << test.what;
            EXPECT_EQ(setup.notices[0].rfind(test.notice, 0), 0u) << test.what << ": " << setup.notices[0];
        }
    }
}

TEST(SymbolSetup, AGivenFolderThatIsNotAFolderIsRefused) {
    TemporaryDirectory folder;
    const std::filesystem::path file = folder / "a.pdb";
    std::ofstream(file) << "not a folder";
    for (const std::filesystem::path& wrong : {folder / "missing", file}) {
        const SymbolSetup setup = SetUpSymbols({folder.path(), wrong}, nullptr, Recording);
        ASSERT_TRUE(setup.refusal) << wrong;
        EXPECT_EQ(*setup.refusal, "--symbols " + wrong.string() + " is not a folder");
        EXPECT_EQ(setup.names, nullptr);
    }
    // A folder the variable names may be one of another machine's: it simply holds nothing.
    EXPECT_FALSE(SetUpSymbols({}, "C:\\symbols", Recording).refusal);
}

}  // namespace
}  // namespace dormiscope::view
