#include "framework/app.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace {

TEST(App, RunTakesTheNameFromArgv0AndRunsInitInstance) {
  struct App : fw::CWinApp {
    bool InitInstance() override {
      name = fw::AfxAppName();
      hadApplication = QApplication::instance() != nullptr;
      return false;
    }
    QString name;
    bool hadApplication = false;
  } app;
  EXPECT_EQ(fw::AfxGetApp(), &app);
  char arg0[] = "/opt/tools/qm-tool.exe";
  char* argv[] = {arg0, nullptr};
  EXPECT_EQ(app.Run(1, argv), 0);
  EXPECT_EQ(app.name, QString("qm-tool"));
  EXPECT_TRUE(app.hadApplication);
}

}  // namespace
