// The wake page's web files: the skeleton page.html, the style sheet page.css
// and the scripts (*.js), embedded in the program by the build
// (embed_web_files.cmake), so that the page written needs nothing at run time
// and asks the network for nothing.
#pragma once

#include <span>
#include <string_view>

namespace dormiscope::view {

struct WebFile {
    std::string_view name;  // The file's name in tools/view/page: "page.css".
    std::string_view text;  // Its bytes as they are.
};

std::span<const WebFile> WebFiles();

}  // namespace dormiscope::view
