// The line conditions a bus doctor must recognise, as qm7410-sim produces them on its
// pseudo-terminal: a meter at another speed, an echoing adapter, junk when the port opens, another
// master on the line and a meter that needs a pause between requests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>

#include <QTemporaryDir>
#include <algorithm>
#include <thread>

#include "tests/sim/net_sim.h"

namespace {

using simtest::Concat;
using simtest::kLimitMs;
using simtest::NetSim;
using simtest::WithCrc;
using Bytes = std::vector<uint8_t>;

// The PC's side of the pseudo-terminal, raw, 8 data bits, no parity.
class Port {
 public:
  Port(const QString& path, speed_t speed) {
    fd_ = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd_ < 0 || tcgetattr(fd_, &t) != 0) return;
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    ok_ = tcsetattr(fd_, TCSANOW, &t) == 0;
  }
  ~Port() {
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return ok_; }
  bool SetSpeed(speed_t speed) {
    termios t{};
    return tcgetattr(fd_, &t) == 0 && cfsetispeed(&t, speed) == 0 && cfsetospeed(&t, speed) == 0 &&
           tcsetattr(fd_, TCSANOW, &t) == 0;
  }
  bool Send(const Bytes& b) { return write(fd_, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }
  Bytes Read(size_t count) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLimitMs);
    while (got.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
              .count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buf[256];
      const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

// Read holding registers 0x03E0..0x03E3 (model 7410, version 1203) of slave 1, and the reply.
const Bytes kRequest = WithCrc({0x01, 0x03, 0x03, 0xE0, 0x00, 0x02});
const Bytes kReply = WithCrc({0x01, 0x03, 0x04, 0x1C, 0xF2, 0x04, 0xB3});

struct LineSim {
  QTemporaryDir dir;
  QString link = dir.filePath("meter");
  NetSim sim;
  explicit LineSim(const QStringList& args) : sim(QStringList{"--link", link} + args) {}
};

TEST(SimLine, EchoPutsTheRequestsOwnBytesBeforeTheReply) {
  LineSim s({"--echo"});
  ASSERT_TRUE(s.sim.Ready());
  Port port(s.link, B9600);
  ASSERT_TRUE(port.Ok());
  ASSERT_TRUE(port.Send(kRequest));
  EXPECT_EQ(port.Read(kRequest.size() + kReply.size()), Concat(kRequest, kReply));

  ASSERT_EQ(s.sim.Command("echo off"), "ok echo off");
  ASSERT_TRUE(port.Send(kRequest));
  EXPECT_EQ(port.Read(kReply.size()), kReply);
}

TEST(SimLine, JunkArrivesEachTimeThePortIsOpened) {
  LineSim s({"--junk-at-open", "5"});
  ASSERT_TRUE(s.sim.Ready());
  {
    Port port(s.link, B9600);
    ASSERT_TRUE(port.Ok());
    EXPECT_EQ(port.Read(5).size(), 5u);
    ASSERT_TRUE(port.Send(kRequest));
    EXPECT_EQ(port.Read(kReply.size()), kReply);  // the junk came once, before
  }
  {
    Port again(s.link, B9600);
    ASSERT_TRUE(again.Ok());
    EXPECT_EQ(again.Read(5).size(), 5u);
  }
  ASSERT_EQ(s.sim.Command("junk-at-open 0"), "ok junk-at-open 0");
  Port quiet(s.link, B9600);
  ASSERT_TRUE(quiet.Ok());
  ASSERT_TRUE(quiet.Send(kRequest));
  EXPECT_EQ(quiet.Read(kReply.size()), kReply);
}

TEST(SimLine, AnotherMastersExchangeAppearsUnasked) {
  LineSim s({"--other-master", "100"});
  ASSERT_TRUE(s.sim.Ready());
  Port port(s.link, B9600);
  ASSERT_TRUE(port.Ok());
  // Two exchanges' worth read from anywhere in the stream holds one whole exchange.
  EXPECT_TRUE(Contains(port.Read(2 * (kRequest.size() + kReply.size())), Concat(kRequest, kReply)));
}

TEST(SimLine, AMeterAtAnotherSpeedIsHeardAsOtherBytes) {
  // The meter at 9600, the PC at 19200. The other master's request, sent at 9600, decodes at 19200 byte
  // for byte: 01 as 06 (the receiver samples start, d0, d0, d1, d1, d2, d2, d3), 03 as 1E, E0 and 00 as
  // 00, 02 as 18.
  LineSim s({"--other-master", "100"});
  ASSERT_TRUE(s.sim.Ready());
  Port port(s.link, B19200);
  ASSERT_TRUE(port.Ok());
  const Bytes heard = port.Read(60);
  EXPECT_TRUE(Contains(heard, {0x06, 0x1E, 0x1E, 0x00, 0x00, 0x18}));
  EXPECT_FALSE(Contains(heard, kRequest));
}

TEST(SimLine, AMeterAtAnotherSpeedHearsOurRequestGarbledAndStaysSilent) {
  LineSim s({"--turnaround", "0"});
  ASSERT_TRUE(s.sim.Ready());
  ASSERT_TRUE(s.sim.Command("freeze").startsWith("ok"));
  ASSERT_TRUE(s.sim.Command("measure 0 0x1234").startsWith("ok"));
  Port port(s.link, B19200);
  ASSERT_TRUE(port.Ok());
  ASSERT_TRUE(port.Send(kRequest));
  // A command's answer means the simulator has read the line too (it reads the line first), so the
  // request was taken at 19200.
  ASSERT_TRUE(s.sim.Command("get 0").startsWith("ok"));
  // Back at the meter's speed, a request for word 0 is answered, and nothing came before its reply.
  ASSERT_TRUE(port.SetSpeed(B9600));
  ASSERT_TRUE(port.Send(WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01})));
  EXPECT_EQ(port.Read(7), WithCrc({0x01, 0x03, 0x02, 0x12, 0x34}));
}

TEST(SimLine, AMeterIgnoresARequestTooSoonAfterItsReply) {
  LineSim s({"--min-gap", "1500", "--turnaround", "0"});
  ASSERT_TRUE(s.sim.Ready());
  ASSERT_TRUE(s.sim.Command("freeze").startsWith("ok"));
  ASSERT_TRUE(s.sim.Command("measure 0 0x1234").startsWith("ok"));
  Port port(s.link, B9600);
  ASSERT_TRUE(port.Ok());
  ASSERT_TRUE(port.Send(kRequest));
  ASSERT_EQ(port.Read(kReply.size()), kReply);
  const auto replied = std::chrono::steady_clock::now();
  ASSERT_TRUE(port.Send(WithCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01})));  // too soon: ignored
  // Past the gap (the pause is the condition under test), a request is answered, and its reply is the
  // next thing on the line.
  std::this_thread::sleep_until(replied + std::chrono::milliseconds(1700));
  ASSERT_TRUE(port.Send(kRequest));
  EXPECT_EQ(port.Read(kReply.size()), kReply);
}

}  // namespace
