// The window and the command line behind gateways, with real outside parts: Debian's ser2net as a
// transparent gateway in front of the simulated meter, pymodbus as a Modbus TCP server of another
// implementation, and a Modbus gateway played by the test for the failures only a gateway has.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>
#include <atomic>

#include "framework/dialog.h"
#include "link/event_loop_wait.h"
#include "link/named_transport.h"
#include "link/qt_serial_device.h"
#include "tests/support/fake_gateway.h"
#include "tests/support/harness.h"
#include "tests/support/qt_env.h"
#include "tests/support/ser2net_process.h"
#include "tests/support/sim_process.h"
#include "ui/monitor_dlg.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kLimitMs = 60000;  // generous: the machines share two cores with other builds

// The program's wait, counted.
struct CountingClock : qm::link::Clock {
  void Sleep(uint32_t ms) override {
    ++waits;
    real.Sleep(ms);
  }
  uint64_t NowMs() const override { return real.NowMs(); }
  int waits = 0;
  qm::link::EventLoopWait real;
};

// The main window on port 9, built as the program builds it.
struct Window {
  qm::link::QtSerialDevice serial;
  qm::link::NamedTransport transport{serial, qm::link::Wording::Chinese};
  CountingClock clock;
  CMonitorDlg dlg{transport, clock};
  Window() { dlg.m_nPort = 9; }
  ~Window() { qmtest::DestroyIfOpen(dlg); }
  void Run(int address) { qmtest::StartPolling(dlg, address); }
  uint32_t Cycles() const { return dlg.m_nGoodSettings; }
  // Polling goes on: `n` more waits pass.
  bool Waits(int n) {
    const int until = clock.waits + n;
    return QTest::qWaitFor([&] { return clock.waits >= until; }, kLimitMs);
  }
};

std::string Told() {
  std::string all;
  for (const QString& m : qmtest::Messages()) {
    all += '[';
    all += m.toStdString();
    all += ']';
  }
  return all;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class Gateway : public ::testing::Test {
 protected:
  void SetUp() override {
    fw::CDialog::SetManualTimers(false);
    qmtest::Messages().clear();
  }
  void TearDown() override {
    fw::CDialog::SetManualTimers(true);
    ::unsetenv("QM7410_COM9");
  }
  static void Port9(const std::string& url) { ::setenv("QM7410_COM9", url.c_str(), 1); }
};

// Through ser2net the window polls as on a serial line; when the gateway goes away it is told once,
// naming the gateway, and 通讯设置 connects again once the gateway is back.
TEST_F(Gateway, TheWindowPollsThroughATransparentGatewayAndReconnectsAfterItsLoss) {
  qmtest::SimProcess sim({"--address", "1"});
  ASSERT_TRUE(sim.Ready());
  auto gateway = std::make_unique<qmtest::Ser2Net>(sim.Link().toStdString());
  ASSERT_TRUE(gateway->Ready());
  const uint16_t port = gateway->Port();
  Port9(gateway->Url());
  Window w;
  w.dlg.Create();
  ASSERT_EQ(Told(), "");
  w.Run(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Cycles() >= 2; }, kLimitMs)) << "no replies through ser2net";
  EXPECT_TRUE(w.dlg.GetDlgItemText(1001).endsWith(" V")) << w.dlg.GetDlgItemText(1001).toStdString();

  gateway.reset();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !qmtest::Messages().empty(); }, kLimitMs))
      << "the loss was not told";
  ASSERT_TRUE(w.Waits(10)) << "polling stopped";
  EXPECT_EQ(qmtest::Messages().size(), 1u) << Told();
  EXPECT_TRUE(Contains(Told(), "[网关 rtuovertcp://127.0.0.1:" + std::to_string(port) + ": ")) << Told();
  EXPECT_FALSE(w.dlg.m_comm.GetPortOpen());

  gateway = std::make_unique<qmtest::Ser2Net>(sim.Link().toStdString(), port);
  ASSERT_TRUE(gateway->Ready());
  const uint32_t cycles = w.Cycles();
  qmtest::QueueModal([](fw::CDialog& d) {
    d.SetDlgItemText(1000, "9");
    d.Click(fw::IDOK);
    return d.Result();
  });
  w.dlg.Click(1004);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Cycles() >= cycles + 2; }, kLimitMs))
      << "polling did not resume";
  EXPECT_EQ(qmtest::Messages().size(), 1u) << Told();
}

// A Modbus gateway's word that the meter behind it is silent is told once, not once per exchange;
// a reply that comes through again makes the next such word worth telling.
TEST_F(Gateway, AGatewaysExceptionIsToldOnceUntilARepliesComeThroughAgain) {
  std::atomic<bool> silent{true};
  qmtest::FakeGateway gateway(12, [&](const Bytes& request, int) {
    Bytes reply{request[0], request[1], 0, 0, 0, 0, request[6], request[7]};
    if (silent) {
      reply[1 + 6] = static_cast<uint8_t>(request[7] | 0x80);
      reply.push_back(0x0B);
    } else {
      const size_t words = static_cast<size_t>(request[10] << 8 | request[11]);
      reply.push_back(static_cast<uint8_t>(2 * words));
      reply.resize(reply.size() + 2 * words, 0);
    }
    reply[5] = static_cast<uint8_t>(reply.size() - 6);
    return qmtest::FakeGateway::Answer{{reply}};
  });
  const std::string url = "tcp://127.0.0.1:" + std::to_string(gateway.Port());
  Port9(url);
  Window w;
  w.dlg.Create();
  w.Run(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !qmtest::Messages().empty(); }, kLimitMs));
  ASSERT_TRUE(w.Waits(15)) << "polling stopped";
  EXPECT_EQ(Told(), "[网关 " + url + ": 网关后的仪表没有响应 (Modbus 异常 11)]");
  EXPECT_TRUE(w.dlg.m_comm.GetPortOpen());

  silent = false;
  const uint32_t cycles = w.Cycles();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Cycles() >= cycles + 1; }, kLimitMs)) << "no reply came through";
  silent = true;
  ASSERT_TRUE(QTest::qWaitFor([&] { return qmtest::Messages().size() >= 2; }, kLimitMs));
  ASSERT_TRUE(w.Waits(15));
  EXPECT_EQ(qmtest::Messages().size(), 2u) << Told();
}

struct Result {
  int code = -1;
  std::string out, err;
};

Result Cli(const QStringList& args) {
  QProcess p;
  p.start(QM_CLI_EXE, args);
  p.closeWriteChannel();
  if (!p.waitForFinished(kLimitMs)) p.kill();
  p.waitForFinished(kLimitMs);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
          p.readAllStandardError().toStdString()};
}

// The command line through ser2net: a read, and a write that the meter confirms and reads back.
TEST_F(Gateway, TheCommandLineReadsAndWritesThroughATransparentGateway) {
  qmtest::SimProcess sim({"--address", "1", "--pace"});
  ASSERT_TRUE(sim.Ready());
  ASSERT_TRUE(sim.Command("freeze").startsWith("ok"));
  ASSERT_TRUE(sim.Command("measure 0 22000").startsWith("ok"));  // Ua: 220.00 V
  qmtest::Ser2Net gateway(sim.Link().toStdString());
  ASSERT_TRUE(gateway.Ready());
  const QStringList port{"--port", QString::fromStdString(gateway.Url())};
  Result r = Cli(port + QStringList{"read", "--format", "csv"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, ",Ua,220.00 V,220,")) << r.out;
  r = Cli(port + QStringList{"set", "pt=100"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "meter 1: pt = 100, read back\n");
  EXPECT_EQ(sim.Word(0x030E), 100);
}

// Our Modbus TCP client against a server of another implementation.
TEST_F(Gateway, TheCommandLineReadsAnIndependentModbusTcpServer) {
  const uint16_t port = qmtest::FreePort();
  QProcess server;
  server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  server.start("/usr/bin/python3", {QM_MODBUS_SERVER, QString::number(port), "7", "0x3E0=7410", "0x3E1=1203",
                                    "0x300=0x0007", "0x301=0x0203"});
  ASSERT_TRUE(server.waitForReadyRead(kLimitMs) && server.readLine().trimmed() == "ready");
  const QStringList at{"--port", QStringLiteral("tcp://127.0.0.1:%1").arg(port), "-a", "7"};
  Result r = Cli(at + QStringList{"raw", "0x0300", "2", "-f", "csv"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "address,index,value\n7,0,7\n7,1,515\n");
  r = Cli(at + QStringList{"identify", "-f", "csv"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "7410") && Contains(r.out, "1203")) << r.out;
  server.kill();
  server.waitForFinished(kLimitMs);
}

}  // namespace
