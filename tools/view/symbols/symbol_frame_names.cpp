#include "view/symbols/symbol_frame_names.h"

#include <unordered_set>

#include "view/symbols/frame_text.h"
#include "view/symbols/symbol_resolver.h"

namespace dormiscope::symbols {
namespace {

class PdbFrameNames final : public SymbolFrameNames {
public:
    PdbFrameNames(std::vector<std::filesystem::path> folders, ReadPdbFunction read)
        : resolver_(std::move(folders), std::move(read)) {}

    std::string Name(const ResolvedFrame& frame) override {
        if (frame.module != nullptr && !frame.module->pdb) {
            // No PDB can be looked for: the summary counts the module all the same.
            std::string module = ModuleText(frame);
            if (without_identity_seen_.insert(module).second) {
                without_identity_.push_back(std::move(module));
            }
        }
        if (frame.module == nullptr || !frame.module->pdb) {
            return FrameText(frame);
        }
        return FrameText(ModuleText(frame), frame.offset, resolver_.Resolve(*frame.module->pdb, frame.offset));
    }

    std::optional<SymbolSummary> Summary() const override {
        SymbolSummary summary = resolver_.Summary();
        summary.modules += without_identity_.size();
        summary.without_identity = without_identity_;
        return summary;
    }

    const std::vector<std::string>& warnings() const override { return resolver_.warnings(); }

private:
    SymbolResolver resolver_;
    std::vector<std::string> without_identity_;  // in order met
    std::unordered_set<std::string> without_identity_seen_;
};

}  // namespace

std::unique_ptr<SymbolFrameNames> NewSymbolFrameNames(std::vector<std::filesystem::path> folders) {
    ReadPdbFunction read = SystemPdbReader();
    if (!read) {
        return nullptr;
    }
    return std::make_unique<PdbFrameNames>(std::move(folders), std::move(read));
}

}  // namespace dormiscope::symbols
