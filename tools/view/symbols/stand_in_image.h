// The headers of a 64-bit Windows image that holds nothing but a debug
// directory naming one PDB. DbgHelp loads a module's symbols from its image,
// and the user of a trace has the PDBs, seldom the images: this stands in for
// the image so that DbgHelp finds, checks and reads the PDB as it would the
// real one's.
#pragma once

#include <string>

#include "view/symbols/pdb_identity.h"

namespace dormiscope::symbols {

// The image's bytes; its CodeView record names `identity.pdb_name` with the
// identity's GUID and age.
std::string StandInImage(const PdbIdentity& identity);

}  // namespace dormiscope::symbols
