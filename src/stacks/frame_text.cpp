#include "stacks/frame_text.h"

#include <cstdio>

namespace dormiscope {

std::u16string FrameText(const ResolvedFrame& frame) {
    if (frame.module == nullptr) {
        return u"unknown";
    }
    const std::u16string& path = frame.module->file_name;
    const std::size_t slash = path.find_last_of(u"\\/");
    std::u16string text = slash == std::u16string::npos ? path : path.substr(slash + 1);
    char offset[24];
    std::snprintf(offset, sizeof offset, "+0x%llx", static_cast<unsigned long long>(frame.offset));
    for (const char* digit = offset; *digit != '\0'; ++digit) {
        text += static_cast<char16_t>(*digit);
    }
    return text;
}

}  // namespace dormiscope
