// Wide text at the edges of the program: the command line and file paths.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace dormiscope {

// The program's arguments as wide strings, element 0 being the program path.
// Where arguments arrive as bytes they are decoded with the locale's multibyte
// encoding; a byte that does not decode becomes the code point U+DC00 + byte
// (U+DC80 … U+DCFF), so that no argument is refused and every byte survives.
std::vector<std::wstring> CommandLineArguments(int argc, char** argv);

// The file-system path named by a wide string; the inverse of the decoding
// above, so a path given on the command line opens the very same file.
std::filesystem::path PathFromWide(const std::wstring& wide);

}  // namespace dormiscope
