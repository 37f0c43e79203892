// The one Qt environment of every test binary that needs Qt: one QApplication, made in a test
// environment (not at static initialisation, so listing the tests needs no display), with timers
// delivered by hand (a test on real time switches them back on) and message boxes and modal
// dialogs captured.
#include "tests/support/qt_env.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <deque>
#include <memory>

#include "framework/app.h"

namespace qmtest {
namespace {

std::vector<QString> g_messages;
std::deque<std::function<int(fw::CDialog&)>> g_modalScripts;

int RunModalScript(fw::CDialog& dlg) {
  if (g_modalScripts.empty()) {
    ADD_FAILURE() << "unexpected modal dialog \"" << dlg.GetWindowText().toStdString() << "\"";
    return fw::IDCANCEL;
  }
  // Taken off the queue first, so a dialog the script opens gets the next script.
  auto script = std::move(g_modalScripts.front());
  g_modalScripts.pop_front();
  return script(dlg);
}

class QtEnvironment : public ::testing::Environment {
  void SetUp() override {
    static int argc = 1;
    static char name[] = "qm7410-monitor";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    fw::SetAfxAppName("qm7410-monitor");
    fw::CDialog::SetManualTimers(true);
    fw::CDialog::SetModalHook(RunModalScript);
    fw::SetMessageBoxHook([](const QString& text) {
      g_messages.push_back(text);
      return fw::IDOK;
    });
  }
  // The hooks stay: they only touch this file's globals, which outlive the application.
  void TearDown() override { app_.reset(); }
  std::unique_ptr<QApplication> app_;
};

// Every test starts with no message captured and no modal script waiting.
class ResetListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    g_messages.clear();
    g_modalScripts.clear();
  }
};

[[maybe_unused]] const bool g_registered = [] {
  ::testing::AddGlobalTestEnvironment(new QtEnvironment);
  ::testing::UnitTest::GetInstance()->listeners().Append(new ResetListener);
  return true;
}();

}  // namespace

std::vector<QString>& Messages() { return g_messages; }
void QueueModal(std::function<int(fw::CDialog&)> script) { g_modalScripts.push_back(std::move(script)); }
size_t PendingModals() { return g_modalScripts.size(); }

}  // namespace qmtest
