// qm7410-sim over TCP, as behind a serial-to-Ethernet gateway, judged by independent clients:
// Debian's mbpoll (libmodbus) for Modbus TCP, and raw sockets with hand-written frames for both
// transports. Expected register values follow from what the command channel set.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "tests/sim/net_sim.h"

namespace {

using qmtest::Client;
using qmtest::Concat;
using qmtest::kLimitMs;
using qmtest::NetSim;
using qmtest::WithCrc;
using Bytes = std::vector<uint8_t>;

struct Result {
  int code = -1;
  QString out, err;
};

Result Mbpoll(uint16_t port, const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(QM_MBPOLL), QStringList{"-m", "tcp", "-p", QString::number(port)} + args +
                                         QStringList{"-1", "-0", "127.0.0.1"});
  if (!p.waitForFinished(kLimitMs)) p.kill();
  p.waitForFinished(kLimitMs);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
          p.readAllStandardError()};
}

// The register lines mbpoll prints ("[0]: \t4660"), without its banner.
QStringList Registers(const QString& out) {
  QStringList lines;
  for (const QString& line : out.split('\n'))
    if (line.startsWith('[')) lines << line;
  return lines;
}

// Read holding registers 0x03E0..0x03E3 (model, version) as a Modbus TCP request.
Bytes ReadIdentity(uint16_t tid, uint8_t unit) {
  return {static_cast<uint8_t>(tid >> 8),
          static_cast<uint8_t>(tid),
          0,
          0,
          0,
          6,
          unit,
          0x03,
          0x03,
          0xE0,
          0x00,
          0x02};
}
// Its reply: model 7410 = 0x1CF2, version 1203 = 0x04B3.
Bytes IdentityReply(uint16_t tid, uint8_t unit) {
  return {static_cast<uint8_t>(tid >> 8),
          static_cast<uint8_t>(tid),
          0,
          0,
          0,
          7,
          unit,
          0x03,
          0x04,
          0x1C,
          0xF2,
          0x04,
          0xB3};
}

TEST(SimModbusTcp, MbpollReadsWhatTheCommandChannelSet) {
  NetSim sim({"--listen-tcp", "127.0.0.1:0", "--address", "1,2"});
  ASSERT_TRUE(sim.Ready());
  ASSERT_EQ(sim.ReadyLines(), QStringList{QStringLiteral("ready tcp 127.0.0.1:%1").arg(sim.TcpPort())});
  for (const char* c :
       {"freeze", "measure 0 4660", "measure 1 22136", "measure 2 40000", "@2 measure 0 1000"})
    ASSERT_TRUE(sim.Command(c).startsWith("ok")) << c;

  Result r = Mbpoll(sim.TcpPort(), {"-a", "1", "-r", "0", "-c", "3"});
  ASSERT_EQ(r.code, 0) << r.out.toStdString() << r.err.toStdString();
  EXPECT_EQ(Registers(r.out), (QStringList{"[0]: \t4660", "[1]: \t22136", "[2]: \t40000 (-25536)"}));

  // The meter's addresses count bytes: a read at 1 starts with the low byte of word 0 (0x34) and goes
  // on with the high byte of word 1 (0x56).
  r = Mbpoll(sim.TcpPort(), {"-a", "1", "-r", "1", "-c", "1"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(Registers(r.out), QStringList{"[1]: \t13398"});

  r = Mbpoll(sim.TcpPort(), {"-a", "2", "-r", "0", "-c", "1"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(Registers(r.out), QStringList{"[0]: \t1000"});

  r = Mbpoll(sim.TcpPort(), {"-a", "2", "-r", "992", "-c", "2"});  // 0x3E0: model and version
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(Registers(r.out), (QStringList{"[992]: \t7410", "[993]: \t1203"}));
}

TEST(SimModbusTcp, AUnitNoMeterHasIsAnsweredAsAGatewayWhoseTargetIsSilent) {
  NetSim sim({"--listen-tcp", ":0", "--address", "1"});
  ASSERT_TRUE(sim.Ready());
  const Result r = Mbpoll(sim.TcpPort(), {"-a", "9", "-r", "0", "-c", "1"});
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(r.err.contains("Target device failed to respond")) << r.err.toStdString();

  Client c(sim.TcpPort());
  ASSERT_TRUE(c.Connected());
  ASSERT_TRUE(c.Send(ReadIdentity(0x0707, 9)));
  EXPECT_EQ(c.Read(9), (Bytes{0x07, 0x07, 0, 0, 0, 3, 9, 0x83, 0x0B}));
}

TEST(SimModbusTcp, GatewayAndConnectionFaults) {
  NetSim sim({"--listen-tcp", "127.0.0.1:0"});
  ASSERT_TRUE(sim.Ready());
  Client c(sim.TcpPort());
  ASSERT_TRUE(c.Connected());

  ASSERT_EQ(sim.Command("fault gatewaypath"), "ok fault gatewaypath 1");
  ASSERT_TRUE(c.Send(ReadIdentity(0x10, 1)));
  EXPECT_EQ(c.Read(9), (Bytes{0, 0x10, 0, 0, 0, 3, 1, 0x83, 0x0A}));

  ASSERT_TRUE(sim.Command("fault gatewaytarget").startsWith("ok"));
  ASSERT_TRUE(c.Send(ReadIdentity(0x11, 1)));
  EXPECT_EQ(c.Read(9), (Bytes{0, 0x11, 0, 0, 0, 3, 1, 0x83, 0x0B}));

  ASSERT_TRUE(sim.Command("fault exception").startsWith("ok"));
  ASSERT_TRUE(c.Send(ReadIdentity(0x12, 1)));
  EXPECT_EQ(c.Read(9), (Bytes{0, 0x12, 0, 0, 0, 3, 1, 0x83, 0x04}));

  ASSERT_TRUE(sim.Command("fault wrongtid").startsWith("ok"));
  ASSERT_TRUE(c.Send(ReadIdentity(0x13, 1)));
  Bytes expected = IdentityReply(0x13, 1);
  expected[0] = 0x80;  // another transaction id
  EXPECT_EQ(c.Read(13), expected);

  // Silence and a stall: nothing (or half a reply) for that request; the next one is answered.
  ASSERT_TRUE(sim.Command("fault silence").startsWith("ok"));
  ASSERT_TRUE(c.Send(ReadIdentity(0x14, 1)));
  ASSERT_TRUE(sim.Command("fault stall").startsWith("ok"));
  ASSERT_TRUE(c.Send(ReadIdentity(0x15, 1)));
  ASSERT_TRUE(c.Send(ReadIdentity(0x16, 1)));
  const Bytes half{0, 0x15, 0, 0, 0, 7};
  EXPECT_EQ(c.Read(19), Concat(half, IdentityReply(0x16, 1)));

  // Close: half the reply, then the connection ends; the next client is served.
  ASSERT_TRUE(sim.Command("fault close").startsWith("ok"));
  ASSERT_TRUE(c.Send(ReadIdentity(0x17, 1)));
  EXPECT_EQ(c.Read(6), (Bytes{0, 0x17, 0, 0, 0, 7}));
  EXPECT_TRUE(c.ClosedByServer());

  Client next(sim.TcpPort());
  ASSERT_TRUE(next.Connected());
  ASSERT_TRUE(next.Send(ReadIdentity(0x18, 1)));
  EXPECT_EQ(next.Read(13), IdentityReply(0x18, 1));

  // A client that asks and then sends no more still gets its answer, then the connection ends.
  Client last(sim.TcpPort());
  ASSERT_TRUE(last.Connected());
  ASSERT_TRUE(last.Send(ReadIdentity(0x19, 1)));
  last.ShutdownWrite();
  EXPECT_EQ(last.Read(13), IdentityReply(0x19, 1));
  EXPECT_TRUE(last.ClosedByServer());
}

// Read holding registers 0x03E0..0x03E3 of slave 1 as an RTU frame, and its reply.
const Bytes kRtuRequest = WithCrc({0x01, 0x03, 0x03, 0xE0, 0x00, 0x02});
const Bytes kRtuReply = WithCrc({0x01, 0x03, 0x04, 0x1C, 0xF2, 0x04, 0xB3});

TEST(SimRtuOverTcp, AnswersRtuFramesAndWritesReachTheSameMeter) {
  NetSim sim({"--listen-rtu", "127.0.0.1:0"});
  ASSERT_TRUE(sim.Ready());
  Client c(sim.RtuPort());
  ASSERT_TRUE(c.Connected());
  ASSERT_TRUE(c.Send(kRtuRequest));
  EXPECT_EQ(c.Read(kRtuReply.size()), kRtuReply);

  // PT ratio (settings bytes 14-15, written at register 0x0E) to 100: echoed, and seen by the channel.
  const Bytes write = WithCrc({0x01, 0x06, 0x00, 0x0E, 0x00, 0x64});
  ASSERT_TRUE(c.Send(write));
  EXPECT_EQ(c.Read(write.size()), write);
  EXPECT_EQ(sim.Command("get 0x30E"), "ok 100");
}

TEST(SimRtuOverTcp, GatewayFaultsAndClientsOneAfterAnother) {
  NetSim sim({"--listen-rtu", "127.0.0.1:0", "--address", "1"});
  ASSERT_TRUE(sim.Ready());
  Client first(sim.RtuPort());
  Client second(sim.RtuPort());  // both connected at once: each is served
  ASSERT_TRUE(first.Connected() && second.Connected());

  ASSERT_TRUE(sim.Command("fault gatewaytarget").startsWith("ok"));
  ASSERT_TRUE(second.Send(kRtuRequest));
  EXPECT_EQ(second.Read(5), WithCrc({0x01, 0x83, 0x0B}));

  // Another slave address: no answer on a transparent gateway; the next request is answered.
  ASSERT_TRUE(first.Send(WithCrc({0x05, 0x03, 0x03, 0xE0, 0x00, 0x02})));
  ASSERT_TRUE(first.Send(kRtuRequest));
  EXPECT_EQ(first.Read(kRtuReply.size()), kRtuReply);

  ASSERT_TRUE(sim.Command("fault close").startsWith("ok"));
  ASSERT_TRUE(first.Send(kRtuRequest));
  EXPECT_EQ(first.Read(4), Bytes(kRtuReply.begin(), kRtuReply.begin() + 4));
  EXPECT_TRUE(first.ClosedByServer());

  ASSERT_TRUE(second.Send(kRtuRequest));
  EXPECT_EQ(second.Read(kRtuReply.size()), kRtuReply);
  Client third(sim.RtuPort());
  ASSERT_TRUE(third.Connected());
  ASSERT_TRUE(third.Send(kRtuRequest));
  EXPECT_EQ(third.Read(kRtuReply.size()), kRtuReply);
}

TEST(SimNetwork, TheLineAndTheNetworkServeTheSameMeters) {
  QTemporaryDir dir;
  const QString link = dir.filePath("meter");
  NetSim sim({"--link", link, "--listen-tcp", "127.0.0.1:0"});
  ASSERT_TRUE(sim.Ready());
  // The pseudo-terminal's line stays as it was, first; the network's follows.
  EXPECT_EQ(sim.ReadyLines(),
            (QStringList{"ready " + link, QStringLiteral("ready tcp 127.0.0.1:%1").arg(sim.TcpPort())}));
  ASSERT_TRUE(sim.Command("set 0x3E0 1234").startsWith("ok"));
  const Result r = Mbpoll(sim.TcpPort(), {"-a", "1", "-r", "992", "-c", "1"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(Registers(r.out), QStringList{"[992]: \t1234"});
}

}  // namespace
