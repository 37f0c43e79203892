// One QApplication for the framework tests, made in a test environment so listing the tests needs
// no platform; timers are delivered by hand unless a test arms real ones.
#include <gtest/gtest.h>

#include <QApplication>

#include "framework/dialog.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "framework_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    fw::CDialog::SetManualTimers(true);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

[[maybe_unused]] const bool g_registered = [] {
  ::testing::AddGlobalTestEnvironment(new QtEnvironment);
  return true;
}();

}  // namespace
