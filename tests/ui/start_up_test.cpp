// The program's start-up, InitInstance, with its two modal dialogs scripted. The main window gets
// the program's own serial port, so the port it opens is a pseudo-terminal held by the test.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QSerialPort>
#include <cstdlib>
#include <string>

#include "app/monitor_app.h"
#include "tests/support/harness.h"
#include "ui/monitor_dlg.h"

namespace {

using qmtest::QueueModal;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// A pseudo-terminal whose slave side the program opens as serial port `port`.
class Pty {
 public:
  explicit Pty(int port) : var_("QM7410_COM" + std::to_string(port)) {
    char name[128] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    path_ = name;
    // A speed nobody in the program uses, so a configured port is told apart from an untouched one.
    termios t{};
    ::tcgetattr(slave_, &t);
    ::cfsetspeed(&t, B300);
    ::tcsetattr(slave_, TCSANOW, &t);
    ::setenv(var_.c_str(), path_.c_str(), 1);
  }
  ~Pty() {
    ::unsetenv(var_.c_str());
    ::close(slave_);
    ::close(master_);
  }
  termios Settings() const {
    termios t{};
    ::tcgetattr(master_, &t);
    return t;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string var_;
  std::string path_;
  int master_ = -1;
  int slave_ = -1;
};

TEST(StartUp, CancelEndsWithoutAWindowAndWithoutTouchingAPort) {
  Pty pty(1);
  CMonitorApp app;
  QueueModal([](fw::CDialog& d) {
    // Every start offers the same presets.
    EXPECT_EQ(d.GetWindowText(), Q("通讯设置"));
    EXPECT_EQ(d.GetDlgItemText(1000), "1");
    EXPECT_TRUE(d.IsDlgButtonChecked(1012));
    EXPECT_TRUE(d.IsDlgButtonChecked(1014));
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  // A second modal dialog (the main window) would find no script and fail the test.
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(qmtest::PendingModals(), 0u);
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  EXPECT_TRUE(qmtest::Messages().empty());
  const termios t = pty.Settings();
  EXPECT_EQ(::cfgetospeed(&t), speed_t{B300}) << "the port was configured";
}

TEST(StartUp, OkPassesTheChosenSettingsToTheMainWindow) {
  Pty pty(3);
  CMonitorApp app;
  QueueModal([](fw::CDialog& d) {
    d.Click(1013);
    d.Click(1016);
    d.SetDlgItemText(1000, "3");
    d.Click(fw::IDOK);
    return d.Result();
  });
  bool ran = false;
  QueueModal([&](fw::CDialog& d) {
    ran = true;
    auto* dlg = dynamic_cast<CMonitorDlg*>(&d);
    EXPECT_NE(dlg, nullptr);
    if (!dlg) return fw::IDCANCEL;
    EXPECT_EQ(app.m_pMainWnd, dlg);
    EXPECT_EQ(dlg->m_nBaud, 19200);
    EXPECT_EQ(dlg->m_nParity, 2);
    EXPECT_EQ(dlg->m_nPort, 3);
    EXPECT_EQ(dlg->GetDlgItemText(1057), Q("串行口: 3 \r\n\r\n波特率:19200 \r\n\r\n校验位:偶校验"));
    EXPECT_EQ(dlg->m_nPollInterval, 500u);
    EXPECT_TRUE(dlg->m_comm.GetPortOpen());
    const termios t = pty.Settings();
    EXPECT_EQ(::cfgetospeed(&t), speed_t{B19200});
    // A pseudo-terminal drops parity from its settings; the control still holds what it was given.
    EXPECT_EQ(dlg->m_comm.GetSettings(), "19200,E,8,1");
    EXPECT_FALSE(dlg->IsTimerRunning(CMonitorDlg::kPollTimer));
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  EXPECT_FALSE(app.InitInstance());
  EXPECT_TRUE(ran);
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  EXPECT_TRUE(qmtest::Messages().empty());

  // The window closed its port: the program's exclusive hold on it is gone.
  QSerialPort again(QString::fromStdString(pty.Path()));
  EXPECT_TRUE(again.open(QIODevice::ReadWrite)) << again.errorString().toStdString();
}

TEST(StartUp, APortThatCannotBeOpenedIsReportedAndTheWindowStillRuns) {
  ::setenv("QM7410_COM6", "/tmp/qm7410-no-such-port", 1);
  CMonitorApp app;
  QueueModal([](fw::CDialog& d) {
    d.SetDlgItemText(1000, "6");
    d.Click(fw::IDOK);
    return d.Result();
  });
  QueueModal([](fw::CDialog& d) {
    EXPECT_EQ(d.GetDlgItemText(1057), "");
    d.Click(fw::IDCANCEL);
    return d.Result();
  });
  EXPECT_FALSE(app.InitInstance());
  ::unsetenv("QM7410_COM6");
  ASSERT_EQ(qmtest::Messages().size(), 1u);
  EXPECT_TRUE(qmtest::Messages()[0].contains("/tmp/qm7410-no-such-port"))
      << qmtest::Messages()[0].toStdString();
}

}  // namespace
