#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QRawFont>

#include "framework/dialog_units.h"

namespace {

// "宋体" must be drawn by a font that has Chinese glyphs itself, whatever the locale.
TEST(Font, SongTiResolvesToAChineseFont) {
  for (const char* face : {"宋体", "System"}) {
    const QFont font = fw::TemplateFont(face, 10);
    EXPECT_EQ(font.pointSize(), 10);
    const QRawFont raw = QRawFont::fromFont(font);
    ASSERT_TRUE(raw.isValid()) << face;
    EXPECT_TRUE(raw.supportsCharacter(QChar(0x5B8B)))
        << face << " -> " << raw.familyName().toStdString();  // 宋
    EXPECT_TRUE(raw.supportsCharacter(QChar('A'))) << face;
  }
}

TEST(Font, BaseWidthIsTheLatinAverageNotTheWidestGlyph) {
  const QFont font = fw::TemplateFont("宋体", 10);
  const fw::BaseUnits units = fw::BaseUnitsFor(font);
  const QFontMetrics fm(font);
  EXPECT_EQ(units.cy, fm.height());
  // A Chinese font's average width is a full-width glyph; dialog units follow the Latin letters.
  EXPECT_LT(units.cx, fm.horizontalAdvance(QChar(0x5B8B)));
  EXPECT_GE(units.cx, 4);
}

TEST(Units, MonospacedFontGivesItsAdvance) {
  // For a fixed-pitch font (52 * w / 26 + 1) / 2 is w itself.
  QFont mono;
  mono.setFamilies({"DejaVu Sans Mono"});
  mono.setPixelSize(13);
  const QFontMetrics fm(mono);
  ASSERT_EQ(fm.horizontalAdvance("A"), fm.horizontalAdvance("m"));
  EXPECT_EQ(fw::BaseUnitsFor(mono).cx, fm.horizontalAdvance("A"));
}

TEST(Units, MapsBothCornersWithMulDivRounding) {
  struct Case {
    fw::BaseUnits units;
    int x, y, w, h;
    QRect px;
  };
  const Case cases[] = {
      {{8, 19}, 0, 0, 4, 8, QRect(0, 0, 8, 19)},
      {{8, 19}, 374, 242, 0, 0, QRect(748, 575, 0, 0)},  // 242 * 19 / 8 = 574.75
      {{7, 13}, 2, 4, 1, 4, QRect(4, 7, 1, 6)},          // 3.5 -> 4, 6.5 -> 7: halves away from zero
      {{6, 16}, 1, 1, 1, 1, QRect(2, 2, 1, 2)},          // 1.5 -> 2 and 3 -> 3: width from the corners
      {{7, 13}, -2, -4, 2, 4, QRect(-4, -7, 4, 7)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fw::DluToPixels(c.units, c.x, c.y, c.w, c.h), c.px)
        << c.x << "," << c.y << " " << c.w << "x" << c.h;
  }
}

}  // namespace
