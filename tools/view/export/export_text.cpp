#include "view/export/export_text.h"

namespace dormiscope::view {

std::string ReadierText(const ReadierFigure& readier) {
    switch (readier.kind) {
        case ReadierKind::kThread:
            return (readier.process_name.empty() ? std::string("process") : Utf8Of(readier.process_name)) +
                   " (pid " + std::to_string(readier.process_id) + ") tid " + std::to_string(readier.thread_id);
        case ReadierKind::kDpc:
            return readier.routine ? "DPC " + *readier.routine : "DPC (routine not recorded)";
        case ReadierKind::kUnknown:
            break;
    }
    return "unknown";
}

std::string WakerText(const std::optional<ReadierFigure>& readier) {
    if (!readier) {
        return "no ready seen";
    }
    return readier->kind == ReadierKind::kDpc ? "DPC or interrupt" : ReadierText(*readier);
}

}  // namespace dormiscope::view
