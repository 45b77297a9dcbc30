// The wake view's JSON document reader on arbitrary bytes: every input is
// refused with a message or read, never a crash; and the figures read write a
// document that reads back into figures writing the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "view/json/wakes_document_reader.h"
#include "view/json/wakes_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dormiscope::view;
    const WakesDocument read = ReadWakesDocument(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read.figures) {
        if (read.refusal.empty()) {
            std::abort();
        }
        return 0;
    }
    const std::string written = WakesJson(*read.figures);
    const WakesDocument again = ReadWakesDocument(written);
    if (!again.figures || WakesJson(*again.figures) != written) {
        std::abort();
    }
    return 0;
}
