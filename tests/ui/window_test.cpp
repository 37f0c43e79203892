// The main window and its "通讯设置" command against the simulated meter: input that arrives during a
// cycle, the port settings and the baud change. Then the program's start-up with its two modal
// dialogs scripted. Closing and ports that cannot be opened or
// vanish are tested on the real serial port (e2e_serial).
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <utility>

#include "app/monitor_app.h"
#include "link/event_loop_wait.h"
#include "tests/support/harness.h"

#ifdef QM_HAVE_QPA
#include <qpa/qwindowsysteminterface.h>
#endif

namespace {

using qm::sim::Fault;
using qmtest::Harness;
using qmtest::Request;

constexpr int kPoll = CMonitorDlg::kPollTimer;

// The program's wait never ends before its time, however its event loop wakes (a reply read early
// may not be complete), and the window's events are handled meanwhile.
TEST(ProgramWait, NeverEndsEarlyAndHandlesEventsMeanwhile) {
  qm::link::EventLoopWait wait;
  for (const uint32_t ms : {1u, 20u, 150u, 400u}) {
    bool handled = false;
    QTimer::singleShot(0, [&] { handled = true; });
    QElapsedTimer elapsed;
    elapsed.start();
    wait.Sleep(ms);
    EXPECT_GE(elapsed.nsecsElapsed(), qint64{ms} * 1000000) << ms << " ms";
    EXPECT_TRUE(handled) << ms << " ms";
  }
}

#ifdef QM_HAVE_QPA
// The program's own wait (an event loop that holds user input back), run briefly on every wait of
// virtual time. The first wait after `input` is set puts that input into the window system's queue,
// as a user clicking or typing during the wait does; `after` looks at the window after each wait.
struct WaitWithInput : qm::link::Clock {
  explicit WaitWithInput(qm::sim::VirtualClock& t) : time(t) {}
  void Sleep(uint32_t ms) override {
    time.Advance(ms);
    if (input) std::exchange(input, nullptr)();
    wait.Sleep(1);
    if (after) after();
  }
  uint64_t NowMs() const override { return time.NowMs(); }
  qm::sim::VirtualClock& time;
  qm::link::EventLoopWait wait;
  std::function<void()> input, after;
};

TEST(MainWindow, ClickOrKeyDuringACycleRunsAfterIt) {
  using Wsi = QWindowSystemInterface;
  qm::sim::VirtualClock time;
  qm::sim::SimMeter meter;
  qm::sim::SimSerialDevice device(meter, time);
  WaitWithInput clock(time);
  CMonitorDlg dlg(device, clock);
  dlg.Create();
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg, 10000));
  QWindow* window = dlg.windowHandle();
  dlg.SetDlgItemText(1061, "1");
  dlg.Click(1063);
  std::vector<std::pair<int, bool>> atWaits;  // run flag, window ended
  clock.after = [&] { atWaits.emplace_back(dlg.m_bRun, dlg.IsEnded()); };

  QWidget* run = dlg.GetDlgItem(1063);
  const QPoint centre = run->rect().center();
  clock.input = [&] {  // a click on "停止"
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      Wsi::handleMouseEvent<Wsi::AsynchronousDelivery>(
          window, run->mapTo(&dlg, centre), run->mapToGlobal(centre),
          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::LeftButton, type);
    }
  };
  dlg.DeliverTimer(kPoll);  // the first cycle: identification and four reads
  EXPECT_EQ(atWaits, (std::vector<std::pair<int, bool>>(5, {1, false}))) << "the click ran inside the cycle";
  EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.m_bRun; }, 10000)) << "the click was lost";
  EXPECT_EQ(dlg.GetDlgItemText(1063), QString("运行"));

  dlg.Click(1063);
  atWaits.clear();
  device.ClearLog();
  clock.input = [&] {  // Escape
    for (const auto type : {QEvent::KeyPress, QEvent::KeyRelease})
      Wsi::handleKeyEvent<Wsi::AsynchronousDelivery>(window, type, Qt::Key_Escape, Qt::NoModifier);
  };
  dlg.DeliverTimer(kPoll);
  EXPECT_EQ(atWaits, (std::vector<std::pair<int, bool>>(4, {1, false}))) << "Escape ran inside the cycle";
  EXPECT_EQ(device.Log().size(), 4u);
  EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.IsDestroyed(); }, 10000)) << "Escape was lost";
  if (!dlg.IsDestroyed()) dlg.DestroyWindow();
}
#endif

// A window at 9600, no parity, port 1, polling the meter at address 1.
struct CommSet {
  Harness h;
  CommSet() {
    h.dlg->m_bySlaveAddr = 1;
    h.dlg->SetTimer(kPoll, h.dlg->m_nPollInterval);
    h.ClearWire();
  }
  // Runs the command with a dialog that clicks `clicks`, then presses `button`.
  void Run(std::vector<int> clicks, int button = fw::IDOK) {
    qmtest::QueueModal([=, this](fw::CDialog& d) {
      EXPECT_FALSE(h.dlg->IsTimerRunning(kPoll)) << "polling must stop before the dialog opens";
      for (int id : clicks) d.Click(id);
      d.Click(button);
      return d.Result();
    });
    h.dlg->Click(1004);
  }
  void ExpectLine(const char* settings, qm::link::TimingSet t, const char* status) {
    EXPECT_EQ(h.dlg->m_comm.GetSettings(), settings);
    EXPECT_EQ((qm::link::TimingSet{h.dlg->m_nPollInterval, h.dlg->m_nShortWait, h.dlg->m_nLongWait}), t);
    EXPECT_EQ(h.dlg->TimerInterval(kPoll), t.pollInterval);  // 0 when stopped
    EXPECT_EQ(h.Text(1057), QString(status));
  }
};

// The meter's code of each rate goes out at the old speed; the rate is taken only on an intact echo
// (noise before it does not hide it), the parity all the same.
TEST(CommSet, BaudChangeIsTakenOnlyOnAnIntactEcho) {
  const std::tuple<int, uint16_t, Fault> cases[] = {
      {1009, 0, Fault::Silence}, {1010, 1, Fault::Silence}, {1011, 2, Fault::Silence},
      {1013, 4, Fault::Late},    {1013, 4, Fault::Noise},
  };
  for (const auto& [radio, code, fault] : cases) {
    CommSet c;
    auto& h = c.h;
    const bool confirmed = fault == Fault::Noise;
    h.meter.InjectFault(fault);
    c.Run({radio, 1016});  // even parity
    EXPECT_EQ(h.Requests(), std::vector<std::vector<uint8_t>>{Request(1, 0x06, 0x0308, code)}) << radio;
    EXPECT_EQ(h.device.Log()[0].line.baud, 9600) << "the request goes out at the old speed";
    EXPECT_EQ(h.messages, (std::vector{QString(confirmed ? "改变波特率成功" : "改变波特率不成功")}));
    if (confirmed)
      c.ExpectLine("19200,E,8,1", {500, 150, 250}, "串行口:1 \r\n\r\n波特率: 19200 \r\n\r\n校验位:偶校验");
    else
      c.ExpectLine("9600,E,8,1", {700, 200, 400}, "串行口:1 \r\n\r\n波特率: 9600 \r\n\r\n校验位:偶校验");
    EXPECT_EQ(h.device.Line().baud, h.dlg->m_nBaud);
    h.messages.clear();
  }
}

// Cancel sends nothing and changes nothing; parity alone changes only the PC side. The dialog opens
// on the window's settings: its port, and only its rate's and parity's radio buttons.
TEST(CommSet, CancelChangesNothingAndParityAloneOnlyThePcSide) {
  CommSet c;
  auto& h = c.h;
  const int opens = h.device.OpenCount();
  c.Run({1013, 1016}, fw::IDCANCEL);
  EXPECT_EQ(h.device.OpenCount(), opens);
  c.ExpectLine("9600,N,8,1", {700, 200, 400}, "串行口: 1 \r\n\r\n波特率:9600 \r\n\r\n校验位:无校验");
  c.Run({1015});
  EXPECT_EQ(h.device.Line().parity, qm::link::Parity::Odd);
  c.ExpectLine("9600,O,8,1", {700, 200, 400}, "串行口:1 \r\n\r\n波特率: 9600 \r\n\r\n校验位:奇校验");
  EXPECT_TRUE(h.Requests().empty());
  EXPECT_TRUE(h.messages.empty());
  qmtest::QueueModal([](fw::CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(1000), "1");
    std::vector<int> checked;
    for (int id = 1009; id <= 1016; ++id)
      if (d.IsDlgButtonChecked(id)) checked.push_back(id);
    EXPECT_EQ(checked, (std::vector{1012, 1015}));
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  h.dlg->Click(1004);
}

TEST(CommSet, PortNumbersOutside1To255AreRefusedWithTheFocusOnTheNumber) {
  CommSet c;
  auto& h = c.h;
  qmtest::QueueModal([&h](fw::CDialog& d) {
    for (const char* text : {"0", "-1", "256", "65537"}) {
      h.messages.clear();
      d.SetDlgItemText(1000, text);
      d.Click(fw::IDOK);
      EXPECT_FALSE(d.IsEnded()) << text;
      EXPECT_EQ(h.messages, (std::vector{QString("请输入一个介于 1 和 255 之间的整数。")})) << text;
      EXPECT_EQ(d.focusWidget(), d.GetDlgItem(1000)) << text;
    }
    h.messages.clear();
    d.SetDlgItemText(1000, "255");
    d.Click(fw::IDOK);
    return d.Result();
  });
  h.dlg->Click(1004);
  EXPECT_TRUE(h.messages.empty());
  EXPECT_EQ(h.device.Path(), "/dev/ttyS254");
  c.ExpectLine("9600,N,8,1", {700, 200, 400}, "串行口:255 \r\n\r\n波特率: 9600 \r\n\r\n校验位:无校验");
}

TEST(StartUp, OkPassesTheChosenSettingsToTheMainWindowAndItsPort) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::setenv("QM7410_COM3", name, 1);
  CMonitorApp app;
  qmtest::QueueModal([](fw::CDialog& d) {
    EXPECT_TRUE(d.IsDlgButtonChecked(1012) && d.IsDlgButtonChecked(1014)) << "presets: 9600 baud, no parity";
    d.Click(1013);  // 19200
    d.Click(1016);  // even
    d.SetDlgItemText(1000, "3");
    d.Click(fw::IDOK);
    return d.Result();
  });
  qmtest::QueueModal([&](fw::CDialog& d) {
    auto& dlg = dynamic_cast<CMonitorDlg&>(d);
    EXPECT_EQ(dlg.m_comm.GetSettings(), "19200,E,8,1");
    termios t{};
    ::tcgetattr(master, &t);  // the settings the program gave the port
    EXPECT_EQ(::cfgetospeed(&t), speed_t{B19200});
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(qmtest::PendingModals(), 0u) << "the main window never ran";
  EXPECT_TRUE(qmtest::Messages().empty());
  ::unsetenv("QM7410_COM3");
  ::close(slave);
  ::close(master);
}

}  // namespace
