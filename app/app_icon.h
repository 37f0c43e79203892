#pragma once
#include <QIcon>

namespace qm::app {

// The program's icon: the panel meter of the desktop menu, drawn at the usual window icon sizes.
QIcon AppIcon();

}  // namespace qm::app
