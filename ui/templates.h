#pragma once
#include "framework/dialog_template.h"

// The program's four dialog templates with their combo box initialisation data.
namespace qm::ui {

const fw::DialogTemplate& MainWindowTemplate();  // 102
const fw::DialogTemplate& CommSetTemplate();     // 130
const fw::DialogTemplate& MeterSetTemplate();    // 131
const fw::DialogTemplate& SlaveAddrTemplate();   // 146

}  // namespace qm::ui
