#include "view/symbols/symbol_frame_names.h"

#include "view/symbols/frame_text.h"
#include "view/symbols/symbol_resolver.h"

namespace dormiscope::symbols {
namespace {

class PdbFrameNames final : public SymbolFrameNames {
public:
    PdbFrameNames(std::vector<std::filesystem::path> folders, ReadPdbFunction read)
        : resolver_(std::move(folders), std::move(read)) {}

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
    ReadPdbFunction read = SystemPdbReader();
    if (!read) {
        return nullptr;
    }
    return std::make_unique<PdbFrameNames>(std::move(folders), std::move(read));
}

}  // namespace dormiscope::symbols
