#include "view/symbols/stand_in_image.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temporary_directory.h"
#include "windows_image/image_pdb_identity.h"

namespace dormiscope::symbols {
namespace {

// DbgHelp takes the PDB's identity from the image's debug directory, found
// through the optional header and the section table: read back the same way,
// it must be the one written, whatever the length of the name.
TEST(StandInImage, ItsDebugDirectoryNamesThePdbWithItsIdentity) {
    testing::TemporaryDirectory folder;
    for (const std::string& name : {std::string("a.pdb"), std::string("C:\\Symbols\\prüfung €\\calc.pdb"),
                                     std::string(700, 'x') + ".pdb"}) {
        PdbIdentity identity;
        identity.guid = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
        identity.age = 0x1A;
        identity.pdb_name = name;
        const std::filesystem::path image = folder / "stand-in.dll";
        std::ofstream(image, std::ios::binary) << StandInImage(identity);
        EXPECT_EQ(windows_image::ReadImagePdbIdentity(image), identity) << name;
    }
}

}  // namespace
}  // namespace dormiscope::symbols
