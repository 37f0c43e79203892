#pragma once
#include <QFont>
#include <QRect>
#include <QStringList>

#include "framework/fw.h"

namespace qm::framework {

// The font a template names, resolved to a concrete family list so "宋体" means a Chinese font
// whatever the locale.
QFont TemplateFont(const std::string& face, int pointSize);

// Dialog base units the Windows way: width = (width of "A..Za..z" / 26 + 1) / 2, height = font height.
struct BaseUnits {
  int cx;
  int cy;
};
BaseUnits BaseUnitsFor(const QFont& font);

// Dialog units to pixels: x * cx / 4, y * cy / 8.
QRect DluToPixels(const BaseUnits& units, int x, int y, int w, int h);

}  // namespace qm::framework
