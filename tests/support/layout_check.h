#pragma once
#include <string>
#include <vector>

#include "framework/fw.h"

namespace qm::framework {
class CDialog;
}

namespace layout {

// Layout faults of a built (ideally shown) dialog, one readable line each; empty when it looks
// right: visible controls that overlap (a group box may hold the controls inside it), and captions
// wider or taller than their control by the control's own font.
std::vector<std::string> Check(const fw::CDialog& dlg);

}  // namespace layout
