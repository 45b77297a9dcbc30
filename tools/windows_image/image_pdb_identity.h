// The PDB a Windows image names in its CodeView debug directory entry.
#pragma once

#include <filesystem>
#include <optional>

#include "view/symbols/pdb_identity.h"

namespace dormiscope::windows_image {

// The identity in the RSDS record of the image file at `image`; none when it
// cannot be read, is no PE image or holds no such record.
std::optional<symbols::PdbIdentity> ReadImagePdbIdentity(const std::filesystem::path& image);

}  // namespace dormiscope::windows_image
