#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <stdexcept>

#include "tests/framework/test_dialog.h"

namespace {

using fwtest::TestDlg;
using Events = std::vector<std::string>;

void ProcessEvents() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class Timers : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::SetMessageBoxHook([this](const QString& text) {
      messages.push_back(text);
      if (insideBox) insideBox();
      return fw::IDOK;
    });
    dlg.Create();
    dlg.events.clear();
    dlg.onTimer = [this](int) { EXPECT_FALSE(inAction) << "a tick entered a running handler"; };
  }
  void TearDown() override {
    dlg.DestroyWindow();
    fw::SetMessageBoxHook({});
    fw::CDialog::SetModalHook({});
  }

  TestDlg dlg;
  std::vector<QString> messages;
  std::function<void()> insideBox;
  bool inAction = false;
};

TEST_F(Timers, TickOnlyWhileTheTimerIsSet) {
  dlg.DeliverTimer(1);
  EXPECT_TRUE(dlg.events.empty());
  dlg.SetTimer(1, 700);
  EXPECT_TRUE(dlg.IsTimerRunning(1));
  EXPECT_EQ(dlg.TimerInterval(1), 700u);
  dlg.DeliverTimer(1);
  EXPECT_EQ(dlg.events, Events{"tick 1"});
  dlg.KillTimer(1);
  EXPECT_FALSE(dlg.IsTimerRunning(1));
  dlg.DeliverTimer(1);
  EXPECT_EQ(dlg.events, Events{"tick 1"});
}

TEST_F(Timers, TicksDuringAMessageBoxAreHeldOnePerTimer) {
  dlg.SetTimer(1, 700);
  dlg.SetTimer(2, 700);
  insideBox = [this] {
    dlg.DeliverTimer(1);
    dlg.DeliverTimer(1);
    dlg.DeliverTimer(2);
    dlg.DeliverTimer(1);
  };
  dlg.action = [this] {
    inAction = true;
    fw::AfxMessageBox("inside");
    dlg.events.push_back("after box");
    inAction = false;
  };
  dlg.Click(1009);
  EXPECT_EQ(dlg.events, (Events{"action", "after box"}));
  ProcessEvents();
  EXPECT_EQ(dlg.events, (Events{"action", "after box", "tick 1", "tick 2"}));
}

TEST_F(Timers, KillAndRestartDropAHeldTick) {
  dlg.SetTimer(1, 700);
  dlg.SetTimer(2, 700);
  dlg.action = [this] {
    dlg.DeliverTimer(1);
    dlg.DeliverTimer(2);
    dlg.KillTimer(1);
    dlg.SetTimer(2, 500);
  };
  dlg.Click(1009);
  ProcessEvents();
  EXPECT_EQ(dlg.events, Events{"action"});
  EXPECT_EQ(dlg.TimerInterval(2), 500u);
}

TEST_F(Timers, TickFallingDueDuringATickFollowsIt) {
  dlg.SetTimer(1, 700);
  int depth = 0;
  dlg.onTimer = [&](int) {
    EXPECT_EQ(++depth, 1);
    if (dlg.events.size() == 1) {
      // Three periods pass during a long wait: one tick is pending afterwards.
      dlg.DeliverTimer(1);
      dlg.DeliverTimer(1);
      dlg.DeliverTimer(1);
    }
    --depth;
  };
  dlg.DeliverTimer(1);
  EXPECT_EQ(dlg.events, Events{"tick 1"});
  ProcessEvents();
  EXPECT_EQ(dlg.events, (Events{"tick 1", "tick 1"}));
}

TEST_F(Timers, NestedModalDialogTicksButItsOwnerWaits) {
  dlg.SetTimer(1, 700);
  TestDlg child;
  fw::CDialog::SetModalHook([&](fw::CDialog& d) {
    dlg.DeliverTimer(1);  // the owner's handler is still running
    d.SetTimer(5, 100);
    d.DeliverTimer(5);  // the child's loop is idle: its tick runs now
    EXPECT_EQ(child.events, (Events{"init", "tick 5"}));
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  dlg.action = [&] { EXPECT_EQ(child.DoModal(), fw::IDCANCEL); };
  dlg.Click(1009);
  EXPECT_EQ(dlg.events, Events{"action"});
  ProcessEvents();
  EXPECT_EQ(dlg.events, (Events{"action", "tick 1"}));
  EXPECT_EQ(child.destroyCount, 1);
  EXPECT_FALSE(child.IsTimerRunning(5)) << "timers end with the window";
}

TEST_F(Timers, RealTimerNeverReentersAWaitingHandler) {
  fw::CDialog::SetManualTimers(false);
  int depth = 0;
  int ticks = 0;
  bool reentered = false;
  dlg.onTimer = [&](int) {
    reentered |= depth > 0;
    ++depth;
    ++ticks;
    // A wait longer than the period, in a nested loop like the program's exchanges.
    QEventLoop loop;
    QTimer::singleShot(60, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    --depth;
  };
  // Qt never re-fires the timer whose slot runs, so the second timer is the one that would barge in.
  dlg.SetTimer(1, 20);
  dlg.SetTimer(2, 20);
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 400) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  dlg.KillTimer(1);
  dlg.KillTimer(2);
  fw::CDialog::SetManualTimers(true);
  EXPECT_FALSE(reentered);
  EXPECT_GE(ticks, 3);  // back to back, not piled up and not lost
  EXPECT_LE(ticks, 8);
}

TEST_F(Timers, ExceptionEndsOnlyItsHandler) {
  dlg.SetTimer(1, 700);
  insideBox = [this] { dlg.DeliverTimer(1); };
  dlg.action = [this] {
    dlg.events.push_back("step 1");
    throw std::runtime_error("串口 COM9 无法打开: 不存在");
  };
  dlg.Click(1009);
  EXPECT_EQ(messages, std::vector<QString>{"串口 COM9 无法打开: 不存在"});
  EXPECT_EQ(dlg.events, (Events{"action", "step 1"}));
  ProcessEvents();  // the tick that fell due while the error box was open
  dlg.action = {};
  dlg.Click(1009);
  EXPECT_EQ(dlg.events, (Events{"action", "step 1", "tick 1", "action"}));
  EXPECT_FALSE(dlg.IsEnded());
}

TEST_F(Timers, CloseDuringAHandlerWaitsForIt) {
  dlg.action = [this] {
    dlg.close();
    EXPECT_FALSE(dlg.IsEnded());
    dlg.events.push_back("still here");
  };
  dlg.Click(1009);
  EXPECT_FALSE(dlg.IsEnded());
  ProcessEvents();
  EXPECT_TRUE(dlg.IsEnded());
  EXPECT_EQ(dlg.Result(), fw::IDCANCEL);
  EXPECT_EQ(dlg.destroyCount, 1);
}

}  // namespace
