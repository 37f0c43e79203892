#pragma once
#include <QString>
#include <functional>
#include <vector>

#include "framework/dialog.h"

namespace qmtest {

// Message boxes shown since the current test began.
std::vector<QString>& Messages();
// Queues a script for the next modal dialog run anywhere: it drives the dialog (set texts, click
// radio buttons, press OK or Cancel) and returns the result. A modal dialog with no script waiting
// fails the test and ends with Cancel.
void QueueModal(std::function<int(fw::CDialog&)> script);
size_t PendingModals();

}  // namespace qmtest
