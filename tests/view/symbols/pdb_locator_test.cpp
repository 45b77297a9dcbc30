#include "view/symbols/pdb_locator.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temporary_directory.h"

namespace dormiscope::symbols {
namespace {

using dormiscope::testing::TemporaryDirectory;

PdbIdentity Identity(std::string name) {
    PdbIdentity identity;
    identity.guid = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    identity.age = 0x1A;
    identity.pdb_name = std::move(name);
    return identity;
}

void Touch(const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

TEST(PdbIdentityText, StoreKeyAndDescriptionReadTheGuidAsItsFields) {
    EXPECT_EQ(SymbolStoreKey(Identity("a.pdb")), "123456789ABCDEF001020304050607081A");
    EXPECT_EQ(DescribePdb(Identity("C:\\build\\x64\\a.pdb")), "a.pdb {12345678-9ABC-DEF0-0102-030405060708} age 26");
}

TEST(PdbLocator, StoreLayoutFirstThenFlatInEachFolderInOrder) {
    TemporaryDirectory root;
    const std::string key = SymbolStoreKey(Identity("a.pdb"));
    Touch(root / "store/a.pdb" / key / "a.pdb");
    Touch(root / "store/a.pdb/00000000000000000000000000000000001/a.pdb");  // another build
    Touch(root / "flat/a.pdb");
    EXPECT_EQ(PdbCandidates({root / "flat", root / "store", root / "empty"}, Identity("C:\\build\\a.pdb")),
              (std::vector<std::filesystem::path>{root / "flat/a.pdb", root / "store/a.pdb" / key / "a.pdb"}));
}

TEST(PdbLocator, NamesMatchRegardlessOfCase) {
    TemporaryDirectory root;
    const std::string lower_key = "123456789abcdef001020304050607081a";
    Touch(root / "NTKRNLMP.PDB" / lower_key / "NtKrnlMp.pdb");
    EXPECT_EQ(PdbCandidates({root.path()}, Identity("ntkrnlmp.pdb")),
              (std::vector<std::filesystem::path>{root / "NTKRNLMP.PDB" / lower_key / "NtKrnlMp.pdb"}));
}

TEST(PdbLocator, NamesThatAreNotPlainFileNamesFindNothing) {
    TemporaryDirectory root;
    Touch(root / "inner/x.pdb");
    for (const std::string& name : {std::string(), std::string("C:\\build\\"), std::string(".."),
                                     std::string("inner/.."), std::string("x.pdb\0", 6)}) {
        EXPECT_TRUE(PdbCandidates({root / "inner"}, Identity(name)).empty()) << name;
    }
    EXPECT_TRUE(PdbCandidates({root / "missing"}, Identity("x.pdb")).empty());
}

}  // namespace
}  // namespace dormiscope::symbols
