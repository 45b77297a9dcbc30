// The one place a resolved frame becomes the text the JSON (and so the page)
// shows. The default names module+offset; a symbol-backed one replaces it to
// add function names, so the figures themselves never hold texts.
#pragma once

#include <optional>
#include <string>

#include "view/stacks/module_maps.h"
#include "view/symbols/symbol_summary.h"

namespace dormiscope {

class FrameNames {
public:
    virtual ~FrameNames() = default;
    // Not const: a symbol-backed namer loads PDBs on first use.
    virtual std::string Name(const ResolvedFrame& frame) = 0;

    // Which modules' PDBs named the frames so far; none when no PDB was looked for.
    virtual std::optional<symbols::SymbolSummary> Summary() const { return std::nullopt; }
};

// "module+0x1a2b", or "unknown 0x1a2b3c" where no module covered the address.
class ModuleOffsetNames final : public FrameNames {
public:
    std::string Name(const ResolvedFrame& frame) override { return FrameText(frame); }
};

}  // namespace dormiscope
