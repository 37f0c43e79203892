#pragma once
#include <QString>

#include "framework/fw.h"

class QWidget;

namespace qm::framework::detail {

// The window text of a control the way Windows keeps it: edits, buttons, statics, group boxes and
// the edit field of a combo box. A multi-line edit gives back exactly the text it was given.
void SetWidgetText(QWidget* widget, const QString& text);
QString WidgetText(const QWidget* widget);

}  // namespace qm::framework::detail
