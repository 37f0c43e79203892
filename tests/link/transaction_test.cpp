// The exchange that ends when the whole reply is in, against the in-process simulated meter on
// virtual time.
#include "link/transaction.h"

#include <gtest/gtest.h>

#include "sim/sim_commands.h"
#include "sim/sim_meter.h"
#include "tests/support/sim_input_wait.h"

namespace {

using qm::link::TransactionError;
using qm::sim::Fault;

struct Rig {
  Rig() : meter(qm::sim::MeterConfig{}), device(meter, clock), wait(device, clock) {
    device.Open("/dev/meter", {9600, 'N', 8, 1});
  }
  qm::link::TransactionResult Read(uint16_t reg, uint16_t quantity, uint32_t timeout = 400, int retries = 0,
                                   uint8_t address = 1) {
    return qm::link::Transact(device, wait, address, 0x03, reg, quantity, {timeout, retries});
  }
  qm::sim::VirtualClock clock;
  qm::sim::SimMeter meter;
  qm::sim::SimSerialDevice device;
  qm::test::SimInputWait wait;
};

TEST(Transact, EndsWhenTheWholeReplyHasArrived) {
  Rig rig;
  // 8 request bytes and 87 reply bytes at 10 bits each, 9600 baud: 98.96 ms, plus the meter's 5 ms.
  const qm::link::TransactionResult r = rig.Read(0x0000, 41);
  ASSERT_TRUE(r.Ok()) << qm::link::DescribeFailure(r);
  EXPECT_GE(r.elapsedMs, 103u);
  EXPECT_LE(r.elapsedMs, 105u);
  EXPECT_EQ(r.frame.size(), 87u);
  EXPECT_EQ(r.Data().size(), 82u);
  EXPECT_EQ(r.attempts, 1);
}

TEST(Transact, SilenceCostsTheTimeoutOfEveryAttempt) {
  Rig rig;
  rig.meter.InjectFault(Fault::Silence, 3);
  const qm::link::TransactionResult r = rig.Read(0x0300, 26, 250, 2);
  EXPECT_EQ(r.error, TransactionError::NoReply);
  EXPECT_EQ(r.attempts, 3);
  EXPECT_EQ(rig.device.Log().size(), 3u);  // the request went out once per attempt
  EXPECT_GE(r.elapsedMs, 750u);
  EXPECT_LE(r.elapsedMs, 760u);
  EXPECT_EQ(qm::link::DescribeFailure(r), "no reply in 3 attempts");
}

TEST(Transact, AnotherAttemptGetsTheReply) {
  Rig rig;
  rig.meter.InjectFault(Fault::BadCrc);
  const qm::link::TransactionResult r = rig.Read(0x0300, 26, 200, 1);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.attempts, 2);
  EXPECT_EQ(r.Data()[1], 1);  // settings byte 1: the address
}

TEST(Transact, FindsTheReplyBehindGarbage) {
  for (Fault fault : {Fault::Noise, Fault::Flood}) {  // a flood is longer than the window's buffer
    Rig rig;
    rig.meter.InjectFault(fault);
    const qm::link::TransactionResult r = rig.Read(0x0300, 26, 1000);
    ASSERT_TRUE(r.Ok()) << qm::sim::FaultName(fault);
    EXPECT_EQ(r.frame.size(), 57u);
    EXPECT_EQ(r.frame[0], 1);
  }
}

TEST(Transact, BrokenRepliesAreNamedAsSuch) {
  for (Fault fault : {Fault::BadCrc, Fault::WrongAddress, Fault::Truncated}) {
    Rig rig;
    rig.meter.InjectFault(fault);
    const qm::link::TransactionResult r = rig.Read(0x0300, 26, 300);
    EXPECT_EQ(r.error, TransactionError::BadReply) << qm::sim::FaultName(fault);
    EXPECT_GT(r.received, 0);
    EXPECT_NE(qm::link::DescribeFailure(r).find("no valid reply"), std::string::npos);
  }
}

TEST(Transact, AnExceptionReplyEndsAtOnceWithoutAskingAgain) {
  Rig rig;
  rig.meter.InjectFault(Fault::Exception);  // the simulated meter reports a device failure (4)
  const qm::link::TransactionResult r = rig.Read(0x0300, 26, 400, 2);
  EXPECT_EQ(r.error, TransactionError::Exception);
  EXPECT_EQ(r.exceptionCode, 4);
  EXPECT_EQ(r.attempts, 1);
  EXPECT_LT(r.elapsedMs, 50u);
  EXPECT_EQ(qm::link::DescribeFailure(r), "exception 4 (device failure)");
}

TEST(Transact, AReplyThatCameLateIsNeverTakenForALaterRequest) {
  Rig rig;
  rig.meter.InjectFault(Fault::Late);
  EXPECT_EQ(rig.Read(0x0000, 41, 300).error, TransactionError::NoReply);
  rig.clock.Advance(3000);  // the late 87-byte reply is waiting now
  const qm::link::TransactionResult r = rig.Read(0x0300, 26, 300);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.frame.size(), 57u);
}

// The meter's reply one byte per millisecond after a 5 ms turnaround, as a slow line carries it, on
// virtual time.
class PacedLine : public qm::link::SerialDevice {
 public:
  PacedLine(qm::sim::SimMeter& meter, qm::sim::VirtualClock& clock) : meter_(meter), clock_(clock) {}
  void Open(const std::string&, const qm::link::LineSettings&) override {}
  void Close() override {}
  bool IsOpen() const override { return true; }
  void Apply(const qm::link::LineSettings&) override {}
  void Write(const std::vector<uint8_t>& bytes) override {
    reply_ = meter_.Handle(bytes, {9600, 'N', 8, 1}).bytes;
    start_ = clock_.NowMs() + 5;
    taken_ = 0;
  }
  int BytesWaiting() override { return static_cast<int>(Arrived() - taken_); }
  std::vector<uint8_t> ReadAll() override {
    const size_t n = Arrived();
    std::vector<uint8_t> out(reply_.begin() + static_cast<std::ptrdiff_t>(taken_),
                             reply_.begin() + static_cast<std::ptrdiff_t>(n));
    taken_ = n;
    return out;
  }
  void DiscardInput() override { taken_ = Arrived(); }

 private:
  size_t Arrived() const {  // byte i is complete 1 + i ms after the turnaround
    const uint64_t now = clock_.NowMs();
    return now < start_ ? 0 : std::min<size_t>(reply_.size(), static_cast<size_t>(now - start_));
  }
  qm::sim::SimMeter& meter_;
  qm::sim::VirtualClock& clock_;
  std::vector<uint8_t> reply_;
  uint64_t start_ = 0;
  size_t taken_ = 0;
};

TEST(Transact, SleepsThroughTheRestOfAReplyThatHasBegunAndStillEndsWithIt) {
  for (const double byteMs : {0.0, 1.0}) {
    qm::sim::VirtualClock clock;
    qm::sim::SimMeter meter;
    PacedLine line(meter, clock);
    qm::test::SimInputWait wait(line, clock);
    const qm::link::TransactionResult r =
        qm::link::Transact(line, wait, 1, 0x03, 0x0000, 41, {400, 0, byteMs});
    ASSERT_TRUE(r.Ok()) << byteMs;
    EXPECT_EQ(r.elapsedMs, 5u + 87u) << "the exchange ends with the reply's last byte, byteMs " << byteMs;
    if (byteMs > 0)
      EXPECT_LE(wait.wakeups, 12);
    else
      EXPECT_GE(wait.wakeups, 80);  // one wake-up per byte without the line's rate
  }
}

TEST(Transact, AWriteEndsWithItsEcho) {
  Rig rig;
  const qm::link::TransactionResult r =
      qm::link::Transact(rig.device, rig.wait, 1, 0x06, 0x030E, 250, {300, 0});
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.frame, rig.device.Log().back().bytes);
  EXPECT_EQ(rig.meter.Word(0x030E), 250);
}

}  // namespace
