#include "framework/dialog_units.h"

#include <QFontMetrics>
#include <cstdlib>

namespace qm::framework {

namespace {

// Windows MulDiv: a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
  const long long num = static_cast<long long>(a) * b;
  const long long q = (std::llabs(num) * 2 + c) / (2LL * c);
  return static_cast<int>(num < 0 ? -q : q);
}

}  // namespace

QFont TemplateFont(const std::string& face, int pointSize) {
  // No machine here has SimSun; the list falls through to a Chinese font that is installed, so the
  // glyphs and the metrics stay Chinese whatever the locale says.
  static const QStringList kSong = {"SimSun", "NSimSun", "Noto Serif CJK SC", "Noto Sans CJK SC",
                                    "WenQuanYi Micro Hei"};
  static const QStringList kSystem = {"Microsoft YaHei", "SimSun", "Noto Sans CJK SC", "WenQuanYi Micro Hei",
                                      "DejaVu Sans"};
  const QString name = QString::fromStdString(face);
  QStringList families;
  if (name == QStringLiteral("宋体") || name.compare("SimSun", Qt::CaseInsensitive) == 0 ||
      name == QStringLiteral("新宋体") || name.compare("NSimSun", Qt::CaseInsensitive) == 0) {
    families = kSong;
  } else if (name.isEmpty() || name.compare("System", Qt::CaseInsensitive) == 0 ||
             name.compare("MS Shell Dlg", Qt::CaseInsensitive) == 0) {
    families = kSystem;
  } else {
    families = QStringList{name} + kSong;
  }
  QFont font;
  font.setFamilies(families);
  font.setPointSize(pointSize > 0 ? pointSize : 9);
  return font;
}

BaseUnits BaseUnitsFor(const QFont& font) {
  const QFontMetrics fm(font);
  const int width =
      fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return BaseUnits{(width / 26 + 1) / 2, fm.height()};
}

QRect DluToPixels(const BaseUnits& units, int x, int y, int w, int h) {
  // Both corners are mapped, as Windows maps a dialog rectangle, so adjacent controls stay adjacent.
  const int left = MulDiv(x, units.cx, 4);
  const int top = MulDiv(y, units.cy, 8);
  const int right = MulDiv(x + w, units.cx, 4);
  const int bottom = MulDiv(y + h, units.cy, 8);
  return QRect(left, top, right - left, bottom - top);
}

}  // namespace qm::framework
