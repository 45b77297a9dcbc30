// Whether a person watches standard error, so a progress line may be drawn there.
#pragma once

namespace dormiscope {

bool StandardErrorIsTerminal();

}  // namespace dormiscope
