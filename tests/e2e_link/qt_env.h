#pragma once
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

namespace e2e {

// The serial port and the program's wait need a QCoreApplication; made once, before the tests.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "e2e_link_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QCoreApplication> app_;
};

}  // namespace e2e
