#include "framework/app.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace {

TEST(App, RunTakesTheNameFromArgv0AndRunsInitInstance) {
  struct App : fw::CWinApp {
    bool InitInstance() override {
      // The application exists before InitInstance runs: its dialogs need it.
      name = QApplication::instance() != nullptr ? fw::AfxAppName() : "no application";
      return false;
    }
    QString name;
  } app;
  char arg0[] = "/opt/tools/qm-tool.exe";
  char* argv[] = {arg0, nullptr};
  EXPECT_EQ(app.Run(1, argv), 0);
  EXPECT_EQ(app.name, QString("qm-tool"));
}

}  // namespace
