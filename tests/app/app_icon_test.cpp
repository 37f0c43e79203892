// The program's start-up cancelled in its first dialog, and the program's icon as the windows show it.
#include "app/app_icon.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <cstdlib>

#include "app/monitor_app.h"
#include "framework/dialog.h"
#include "tests/support/harness.h"

namespace {

// Cancel in the first dialog ends the program without a window and without touching a port; that
// dialog already shows the program's icon.
TEST(StartUp, CancelEndsWithoutAWindowOrAPortAndTheFirstDialogHasTheIcon) {
  ::setenv("QM7410_COM1", "/nonexistent/qm7410", 1);  // opening it would be reported
  CMonitorApp app;
  QIcon shown;
  qmtest::QueueModal([&](fw::CDialog& d) {
    shown = d.windowIcon();
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  // A second modal dialog (the main window) would find no script and fail the test.
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  EXPECT_TRUE(qmtest::Messages().empty());
  ::unsetenv("QM7410_COM1");
  ASSERT_FALSE(shown.isNull()) << "the port settings dialog has no icon";
  EXPECT_EQ(shown.cacheKey(), QApplication::windowIcon().cacheKey());
  EXPECT_EQ(QGuiApplication::desktopFileName(), "qm7410-monitor");
}

// Menus and window lists show the icon at 16 px, where a blank or one-coloured drawing is easy to miss:
// a transparent margin, a dark display with a red digit, a light face.
TEST(AppIcon, IsDrawnAt16Pixels) {
  const QImage image = qm::app::AppIcon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(image.size(), QSize(16, 16));
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
  EXPECT_LT(image.pixelColor(3, 3).lightness(), 40);
  EXPECT_GT(image.pixelColor(4, 4).red(), 200);
  EXPECT_GT(image.pixelColor(4, 12).lightness(), 200);
}

}  // namespace
