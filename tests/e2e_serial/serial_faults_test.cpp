// The main window on the real serial port (QSerialPort) and the real wait, against pseudo-terminals
// whose far end fails the way real lines fail: the meter's side vanishes while polling; the device
// path is gone, is no serial device, or is not permitted (another port then takes the commands, and
// is in use to anyone else); the far side floods at full speed or stalls in the middle of a reply;
// the window is closed while a cycle waits.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>

#include "framework/dialog.h"
#include "link/event_loop_wait.h"
#include "link/qt_serial_device.h"
#include "tests/e2e_serial/far_side.h"
#include "tests/support/harness.h"
#include "tests/support/qt_env.h"
#include "tests/support/sim_process.h"
#include "ui/monitor_dlg.h"

namespace {

// The program's wait, counted and timed; a test may act as a chosen wait begins (`onWait`: the wait's
// number from 1 and its length).
struct ProbeClock : qm::link::Clock {
  void Sleep(uint32_t ms) override {
    // The time since the last wait began beyond its length: that wait running late, or the work after
    // it (an exchange, or the step to the next cycle). The window is deaf all that while.
    if (sinceLast.isValid()) worstDeafMs = std::max(worstDeafMs, sinceLast.elapsed() - lastMs);
    sinceLast.start();
    lastMs = ms;
    ++waits;
    if (onWait) onWait(waits, ms);
    inWait = true;
    real.Sleep(ms);
    inWait = false;
  }
  uint64_t NowMs() const override { return real.NowMs(); }

  int waits = 0;
  bool inWait = false;
  uint32_t lastMs = 0;
  qint64 worstDeafMs = 0;
  std::function<void(int, uint32_t)> onWait;
  qm::link::EventLoopWait real;
  QElapsedTimer sinceLast;
};

// The program's serial port, telling when it is closed.
class ProbeDevice : public qm::link::QtSerialDevice {
 public:
  void Close() override {
    QtSerialDevice::Close();
    if (onClose) onClose();
  }
  std::function<void()> onClose;
};

// The main window on serial port 9, as the program builds it.
struct Window {
  ProbeDevice device;
  ProbeClock clock;
  CMonitorDlg dlg{device, clock};
  Window() { dlg.m_nPort = 9; }
  ~Window() { qmtest::DestroyIfOpen(dlg); }
  void Run(int address) { qmtest::StartPolling(dlg, address); }
  uint32_t Cycles() const { return dlg.m_nGoodSettings; }  // settings replies found
};

// How many message boxes this test has shown, and all their texts.
size_t Told() { return qmtest::Messages().size(); }
std::string Messages() {
  std::string all;
  for (const QString& m : qmtest::Messages()) {
    // Appended piece by piece: GCC 12 at -O3 warns (-Wrestrict) on "[" + std::string&&.
    all += '[';
    all += m.toStdString();
    all += "] ";
  }
  return all;
}

long RssKb() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Real timers and waits; serial ports point at paths in a directory of the test's own.
class SerialFaults : public ::testing::Test {
 protected:
  void SetUp() override { fw::CDialog::SetManualTimers(false); }
  void TearDown() override {
    fw::CDialog::SetManualTimers(true);
    for (const auto& var : vars_) ::unsetenv(var.c_str());
  }
  // Serial port number `port` of the program is `path`.
  void Port(int port, const std::string& path) {
    vars_.push_back("QM7410_COM" + std::to_string(port));
    ::setenv(vars_.back().c_str(), path.c_str(), 1);
  }
  std::string File(const char* name) const { return dir_.filePath(name).toStdString(); }
  // `link` now leads to `target`, as a device path does to whatever adapter is plugged in.
  static void Point(const std::string& link, const std::string& target) {
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  }
  // The window polls a far side played by the test, which then misbehaves as `fault` makes it. Polling
  // goes on afterwards with values showing, nothing is told, and the window was never deaf for long
  // (the limits leave room for a machine busy with other work).
  void PollThrough(const std::function<void(qmtest::FarSide&, Window&)>& fault) {
    Port(9, File("ttyUSB0"));
    qmtest::FarSide far(File("ttyUSB0"), 1);
    ASSERT_TRUE(far.Ok());
    Window w;
    w.dlg.Create();
    w.Run(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Cycles() >= 2; }, 30000)) << "no replies before the fault";
    w.clock.worstDeafMs = 0;
    fault(far, w);
    const uint32_t cycles = w.Cycles();
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.Cycles() >= cycles + 3; }, 30000))
        << "polling did not recover";
    EXPECT_EQ(Told(), 0u) << "no error of the port: " << Messages();
    EXPECT_TRUE(w.dlg.m_comm.GetPortOpen());
    EXPECT_LT(w.clock.worstDeafMs, 5000) << "the window went deaf";
    // The simulated phase voltages are near 220 V.
    EXPECT_TRUE(w.dlg.GetDlgItemText(1001).endsWith(" V")) << w.dlg.GetDlgItemText(1001).toStdString();
  }
  // A simulated meter at address 1 behind `link`.
  static std::unique_ptr<qmtest::SimProcess> MeterBehind(const std::string& link) {
    auto sim = std::make_unique<qmtest::SimProcess>(QStringList{"--address", "1"});
    EXPECT_TRUE(sim->Ready());
    Point(link, sim->Link().toStdString());
    return sim;
  }
  // The next dialog gets `texts` in its boxes 1000, 1001, ... and OK.
  static void Answer(const QStringList& texts) {
    qmtest::QueueModal([texts](fw::CDialog& d) {
      for (int i = 0; i < texts.size(); ++i) d.SetDlgItemText(1000 + i, texts[i]);
      d.Click(fw::IDOK);
      return d.Result();
    });
  }

 private:
  QTemporaryDir dir_;
  std::vector<std::string> vars_;
};

// True while this process has `device` open (a pseudo-terminal whose other side has gone shows as
// deleted).
bool HoldsOpen(const std::string& device) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (target == device || target == device + " (deleted)") return true;
  }
  return false;
}

// The loss of the meter's side is told once, naming the device and the reason; the port closes and
// polling goes on without a message per exchange.
void ExpectLossToldOnce(Window& w, const std::string& port) {
  ASSERT_TRUE(QTest::qWaitFor([&] { return Told() > 0; }, 30000)) << "the loss was never told";
  const int waits = w.clock.waits;
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.clock.waits >= waits + 20; }, 60000)) << "polling stopped";
  ASSERT_EQ(Told(), 1u) << "one message, not one per exchange: " << Messages();
  EXPECT_TRUE(Contains(Messages(), port) && Contains(Messages(), "已断开")) << Messages();
  EXPECT_FALSE(w.dlg.m_comm.GetPortOpen());
}

// The meter's side vanishes while the window sits idle: a far end that hangs up leaves the line
// readable for good, so the port lets go of it at once instead of reading end-of-file over and over,
// and the next command says so. Once 通讯设置 has reopened the same path, it vanishes while polling.
TEST_F(SerialFaults, AMeterVanishingIdleOrPollingIsToldOnceAndTheSamePortReopens) {
  const std::string port = File("ttyUSB0");
  Port(9, port);
  auto sim = MeterBehind(port);
  const std::string device = std::filesystem::canonical(port).string();
  Window w;
  w.dlg.Create();
  ASSERT_TRUE(HoldsOpen(device)) << Messages();
  sim->Kill();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !HoldsOpen(device); }, 60000))
      << "the port still holds " << device;
  EXPECT_EQ(Told(), 0u) << "nothing is told before a command runs: " << Messages();
  w.Run(1);
  ExpectLossToldOnce(w, port);

  sim = MeterBehind(port);
  Answer({"9"});
  w.dlg.Click(1004);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Cycles() >= 2; }, 30000)) << "polling did not resume";
  EXPECT_EQ(Told(), 1u) << Messages();
  qmtest::Messages().clear();
  sim->Kill();
  ExpectLossToldOnce(w, port);
}

TEST_F(SerialFaults, APathThatIsGoneOrIsNoSerialDeviceIsNamedAndAnotherPortCanBeUsed) {
  const std::string gone = File("ttyUSB0");
  Port(9, gone);
  Window w;
  w.dlg.Create();
  ASSERT_EQ(Told(), 1u) << Messages();
  EXPECT_TRUE(Contains(Messages(), gone) && Contains(Messages(), "设备不存在")) << Messages();
  EXPECT_FALSE(w.dlg.m_comm.GetPortOpen());
  EXPECT_FALSE(w.dlg.IsEnded());

  const std::string file = File("notes.txt");
  std::ofstream(file) << "not a port\n";
  const std::string directory = File("");
  for (const std::string& path : {file, directory, std::string("/dev/null")}) {
    qmtest::Messages().clear();
    Port(7, path);
    Answer({"7"});
    w.dlg.Click(1004);
    ASSERT_EQ(Told(), 1u) << path << ": " << Messages();
    EXPECT_TRUE(Contains(Messages(), path) && Contains(Messages(), "这不是串口设备")) << Messages();
    EXPECT_FALSE(w.dlg.m_comm.GetPortOpen()) << path;
  }

  // Another port with a meter on it: the command opens it and polling starts (address 0, the
  // window's own). The meter's new address 3, PT 100 and CT 5 are confirmed writes, and polling reads
  // them back: Ua, near 220 V on the line, shows as about 22 KV (an earlier reading may still show
  // for a cycle).
  qmtest::Messages().clear();
  qmtest::SimProcess sim({"--address", "0", "--seed", "7"});
  ASSERT_TRUE(sim.Ready());
  Port(5, sim.Link().toStdString());
  Answer({"5"});
  w.dlg.Click(1004);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Cycles() >= 2; }, 30000)) << "no polling on the new port";
  Answer({"3"});
  w.dlg.Click(1007);
  EXPECT_EQ(sim.Word(0x0300) & 0xFF, 3) << "the meter did not take its new address";
  Answer({"100", "5"});
  w.dlg.Click(1006);
  EXPECT_EQ(sim.Word(0x030E), 100);
  EXPECT_EQ(sim.Word(0x0312), 5);
  const auto kv = [&] {
    const QString t = w.dlg.GetDlgItemText(1001);
    return t.endsWith(" KV") ? t.chopped(3).toDouble() : 0.0;
  };
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return w.dlg.m_nCT == 5 && w.dlg.m_nPT == 100 && kv() > 20 && kv() < 24; }, 60000))
      << "Ua \"" << w.dlg.GetDlgItemText(1001).toStdString() << "\"";
  EXPECT_EQ(w.dlg.m_bySlaveAddr, 3);
  EXPECT_EQ(Told(), 0u) << Messages();

  // Held by the window, the port is said to be in use to another opener.
  std::string text = "opened";
  try {
    qm::link::QtSerialDevice().Open(sim.Link().toStdString(), {});
  } catch (const qm::link::CommError& e) {
    text = e.what();
  }
  EXPECT_TRUE(Contains(text, sim.Link().toStdString()) && Contains(text, "正被其他程序使用")) << text;
}

// The device's own group is the one to join; never root's, nor none when the group is unknown.
TEST(OpenFailureText, NamesTheDeviceTheReasonAndTheGroupToJoin) {
  const auto text = [](const char* group) {
    return qm::link::OpenFailureText("/dev/ttyUSB0", qm::link::OpenFault::NoPermission, group, "EACCES");
  };
  for (const char* part : {"/dev/ttyUSB0", "没有访问权限", "EACCES", "usermod -aG uucp "})
    EXPECT_TRUE(Contains(text("uucp"), part)) << part << " missing in " << text("uucp");
  for (const char* group : {"root", ""}) EXPECT_TRUE(Contains(text(group), " dialout ")) << group;
}

// What the program's serial port says when it opens `path`, in a helper program run as the user `uid`.
std::string OpenAs(uid_t uid, const std::string& path) {
  QProcess probe;
  probe.setChildProcessModifier([uid] {
    if (uid != ::geteuid() && (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0))
      ::_exit(126);
  });
  probe.start(QM_OPEN_PROBE, {QString::fromStdString(path)});
  probe.waitForFinished(60000);
  return probe.readAllStandardOutput().toStdString();
}

TEST_F(SerialFaults, ADeviceWithoutPermissionTellsWhichGroupToJoin) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  uid_t uid = ::geteuid();
  if (uid == 0) {
    // Root opens every device, so the program runs as an unprivileged user here, on a device that
    // belongs to the serial ports' group like a real one.
    const struct group* dialout = ::getgrnam("dialout");
    ASSERT_EQ(::chown(name, 0, dialout ? dialout->gr_gid : 20), 0);
    uid = 65534;
  }
  ASSERT_EQ(::chmod(name, uid == 65534 ? 0660 : 0), 0);
  const std::string text = OpenAs(uid, name);
  struct stat st {};
  ASSERT_EQ(::stat(name, &st), 0);
  const struct group* owner = ::getgrgid(st.st_gid);
  const std::string group = owner && std::string(owner->gr_name) != "root" ? owner->gr_name : "dialout";
  for (const std::string& part : {std::string(name), std::string("没有访问权限"), "usermod -aG " + group})
    EXPECT_TRUE(Contains(text, part)) << part << " missing in " << text;
  ::close(slave);
  ::close(master);
}

TEST_F(SerialFaults, AFloodAtFullSpeedNeitherDeafensTheWindowNorGrowsItsMemory) {
  PollThrough([](qmtest::FarSide& far, Window& w) {
    // How long the flood lasts, in seconds: QM_FLOOD_SECONDS, else 20 (a minute by hand).
    const char* env = std::getenv("QM_FLOOD_SECONDS");
    const int seconds = env != nullptr && std::atoi(env) > 0 ? std::atoi(env) : 20;
    const long rssBefore = RssKb();
    long rssMax = rssBefore;
    w.clock.onWait = [&](int, uint32_t) { rssMax = std::max(rssMax, RssKb()); };
    const int waitsBefore = w.clock.waits;
    far.Flood(seconds * 1000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !far.Flooding(); }, (seconds + 60) * 1000));
    w.clock.onWait = nullptr;
    const int waitsDuring = w.clock.waits - waitsBefore;
    std::printf("flood of %d s: %d waits, window deaf %lld ms at most, RSS %ld -> %ld kB\n", seconds,
                waitsDuring, w.clock.worstDeafMs, rssBefore, rssMax);
    // A cycle at 9600 baud waits four times in about a second; a window the flood deafens stops for the
    // whole flood.
    EXPECT_GE(waitsDuring, seconds / 2) << "polling stopped";
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer keeps freed memory aside for a while
    EXPECT_LT(rssMax - rssBefore, 20 * 1024) << "memory grew with the flood";
#endif
  });
}

// Waiting out the stall would take ten seconds.
TEST_F(SerialFaults, AMeterThatStallsInTheMiddleOfAReplyCostsOnlyThatReply) {
  PollThrough([](qmtest::FarSide& far, Window&) {
    far.StallNextReply(3, 10000);  // address, function and byte count, then ten seconds of nothing
    ASSERT_TRUE(QTest::qWaitFor([&] { return far.StallDone(); }, 60000));
  });
}

enum class CloseBy { ExitButton, Escape, CloseBox };

class ClosingWhileACycleWaits : public SerialFaults, public ::testing::WithParamInterface<CloseBy> {};

TEST_P(ClosingWhileACycleWaits, ClosesWhenTheCycleEndsWithThePortClosed) {
  qmtest::SimProcess sim({"--address", "1"});
  ASSERT_TRUE(sim.Ready());
  Port(9, sim.Link().toStdString());
  Window w;

  // In the second wait of a cycle (the first analog read) once values show, the user closes the
  // window. A cycle's last wait is the long one, for the measurement block.
  int lastLong = 0, closedDuring = 0, waitsAtPortClose = -1;
  bool closedInWait = false, waitingAtPortClose = true;
  w.clock.onWait = [&](int n, uint32_t ms) {
    if (ms == w.dlg.m_nLongWait) lastLong = n;
    if (closedDuring || w.Cycles() < 2 || n != lastLong + 2) return;
    closedDuring = n;
    QTimer::singleShot(static_cast<int>(ms / 2), &w.dlg, [&] {
      closedInWait = w.clock.inWait;
      switch (GetParam()) {
        case CloseBy::ExitButton:
          QTest::mouseClick(w.dlg.GetDlgItem(fw::IDCANCEL), Qt::LeftButton);
          break;
        case CloseBy::Escape:
          QTest::keyClick(&w.dlg, Qt::Key_Escape);
          break;
        case CloseBy::CloseBox:
          w.dlg.close();
          break;
      }
    });
  };
  w.device.onClose = [&] {
    waitsAtPortClose = w.clock.waits;
    waitingAtPortClose = w.clock.inWait;
  };
  w.dlg.Create();
  w.dlg.show();
  w.Run(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.dlg.IsDestroyed(); }, 90000)) << "the window never closed";

  ASSERT_GT(closedDuring, 0);
  EXPECT_TRUE(closedInWait);
  EXPECT_EQ(w.dlg.Result(), fw::IDCANCEL);
  // The cycle ran on to its end (the second analog read and the measurement block), no other began,
  // and only then was the port closed.
  EXPECT_EQ(waitsAtPortClose, closedDuring + 2);
  EXPECT_EQ(w.clock.waits, closedDuring + 2);
  EXPECT_FALSE(waitingAtPortClose);
  EXPECT_EQ(w.clock.lastMs, w.dlg.m_nLongWait);
  EXPECT_TRUE(Told() == 0) << Messages();
}

std::string CloseName(const ::testing::TestParamInfo<CloseBy>& info) {
  return std::array{"ExitButton", "Escape", "CloseBox"}[static_cast<size_t>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(E2e, ClosingWhileACycleWaits,
                         ::testing::Values(CloseBy::ExitButton, CloseBy::Escape, CloseBy::CloseBox),
                         CloseName);

}  // namespace
