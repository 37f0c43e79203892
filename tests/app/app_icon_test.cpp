// The program's icon as the windows show it: present from the first dialog on, and drawn (a menu
// entry and a window list show it at 16 px, where a blank or missing drawing is easy to miss).
#include "app/app_icon.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>

#include "app/monitor_app.h"
#include "framework/dialog.h"
#include "tests/support/harness.h"

namespace {

TEST(AppIcon, TheFirstDialogAlreadyShowsTheProgramsIcon) {
  CMonitorApp app;
  QIcon shown;
  qmtest::QueueModal([&](fw::CDialog& d) {
    shown = d.windowIcon();
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  EXPECT_FALSE(app.InitInstance());
  ASSERT_FALSE(shown.isNull()) << "the port settings dialog has no icon";
  EXPECT_EQ(shown.cacheKey(), QApplication::windowIcon().cacheKey());
  EXPECT_EQ(QGuiApplication::desktopFileName(), "qm7410-monitor");
}

TEST(AppIcon, At16PixelsBezelDisplayDigitsAndKeysStayApart) {
  const QImage image = qm::app::AppIcon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(image.size(), QSize(16, 16));
  // A transparent margin around a dark bezel, a black display with a red digit at its top left, grey keys
  // below it on a light face.
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
  const QColor bezel = image.pixelColor(1, 8), display = image.pixelColor(3, 3),
               digit = image.pixelColor(4, 4), face = image.pixelColor(4, 12), key = image.pixelColor(3, 11);
  EXPECT_EQ(bezel.alpha(), 255);
  EXPECT_LT(bezel.lightness(), 100);
  EXPECT_LT(display.lightness(), 40);
  EXPECT_GT(digit.red(), 200);
  EXPECT_LT(digit.green(), 100);
  EXPECT_GT(face.lightness(), 200);
  EXPECT_LT(key.lightness(), face.lightness() - 60);
}

}  // namespace
