#include "view/symbols/symbol_frame_names.h"

#include "view/symbols/frame_text.h"
#include "view/symbols/symbol_resolver.h"

namespace dormiscope::symbols {
namespace {

class PdbFrameNames final : public SymbolFrameNames {
public:
    explicit PdbFrameNames(std::vector<std::filesystem::path> folders) : resolver_(std::move(folders)) {}

    std::string Name(const ResolvedFrame& frame) override {
        if (frame.module == nullptr || !frame.module->pdb) {
            return FrameText(frame);
        }
        return FrameText(ModuleText(frame), frame.offset, resolver_.Resolve(*frame.module->pdb, frame.offset));
    }

    std::optional<SymbolSummary> Summary() const override { return resolver_.Summary(); }

    const std::vector<std::string>& warnings() const override { return resolver_.warnings(); }

private:
    SymbolResolver resolver_;
};

}  // namespace

std::unique_ptr<SymbolFrameNames> NewSymbolFrameNames(std::vector<std::filesystem::path> folders) {
    return std::make_unique<PdbFrameNames>(std::move(folders));
}

}  // namespace dormiscope::symbols
