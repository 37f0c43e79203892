// The exchange that ends when the whole reply is in, against the in-process simulated meter on
// virtual time.
#include <gtest/gtest.h>

#include "link/exchange.h"
#include "sim/sim_commands.h"
#include "sim/sim_meter.h"
#include "sim/sim_serial_device.h"
#include "sim/virtual_clock.h"

namespace {

using qm::link::LinkError;
using qm::sim::Fault;

struct Rig {
  Rig() : meter(qm::sim::MeterConfig{}), device(meter, clock) {
    device.Open("/dev/meter", {9600, qm::link::Parity::None, 8, 1});
  }
  qm::link::ExchangeResult Read(uint16_t reg, uint16_t quantity, uint32_t timeout, int retries = 0) {
    return qm::link::Exchange(device, clock, {1, 0x03, reg, quantity},
                              qm::link::Timing::UntilReply(timeout, retries));
  }
  qm::sim::VirtualClock clock;
  qm::sim::SimMeter meter;
  qm::sim::SimSerialDevice device;
};

// Reads of the 26-word settings block: request and reply take (8 + 57) x 10 bits at 9600 baud, 67.7 ms,
// and the meter answers after 5 ms. An attempt without a valid reply costs its timeout; another
// attempt may then get the reply. An exception reply ends at once without asking again.
TEST(UntilReply, EndsWithTheReplyOrItsFailure) {
  // clang-format off
  const struct { Fault fault; int faults, retries; uint32_t timeout; LinkError error; int attempts;
                 uint64_t minMs, maxMs; const char* said; } cases[] = {
      {Fault::None, 0, 0, 400, LinkError::None, 1, 72, 74, "ok"},
      {Fault::Noise, 1, 0, 1000, LinkError::None, 1, 72, 200, "ok"},
      {Fault::Flood, 1, 0, 1000, LinkError::None, 1, 72, 1000, "ok"},  // longer than the buffer
      {Fault::BadCrc, 1, 1, 200, LinkError::None, 2, 272, 274, "ok"},
      {Fault::Silence, 3, 2, 250, LinkError::NoReply, 3, 750, 760, "no reply in 3 attempts"},
      {Fault::BadCrc, 1, 0, 300, LinkError::BadReply, 1, 300, 302, "no valid reply (57 bytes"},
      {Fault::WrongAddress, 1, 0, 300, LinkError::OtherReply, 1, 300, 302, "a valid frame for slave 2, function 0x03"},
      {Fault::Truncated, 1, 0, 300, LinkError::BadReply, 1, 300, 302, "no valid reply ("},
      {Fault::Exception, 1, 2, 400, LinkError::Exception, 1, 0, 50, "exception 4 (device failure)"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(qm::sim::FaultName(c.fault));
    Rig rig;
    if (c.faults > 0) rig.meter.InjectFault(c.fault, c.faults);
    const auto r = rig.Read(0x0300, 26, c.timeout, c.retries);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.attempts, c.attempts);
    EXPECT_EQ(rig.device.Log().size(), static_cast<size_t>(c.attempts)) << "one request per attempt";
    EXPECT_GE(r.elapsedMs, c.minMs);
    EXPECT_LE(r.elapsedMs, c.maxMs);
    EXPECT_NE(qm::link::DescribeFailure(r).find(c.said), std::string::npos) << qm::link::DescribeFailure(r);
    if (r.Ok()) {
      EXPECT_EQ(r.frame.size(), 57u);
      EXPECT_EQ(r.Data().size(), 52u);
      EXPECT_EQ(r.Data()[1], 1);  // settings byte 1: the address
    }
  }
}

// Noise before an exception reply (to a read of no words): the reply is still taken whole.
TEST(UntilReply, AnExceptionReplyBehindNoiseIsTakenWhole) {
  Rig rig;
  rig.meter.InjectFault(Fault::Noise);
  const auto r = rig.Read(0x0300, 0, 400);
  EXPECT_EQ(qm::link::DescribeFailure(r), "exception 2 (illegal data address)");
  EXPECT_EQ(r.frame.size(), 5u);
}

TEST(UntilReply, AReplyThatCameLateIsNeverTakenForALaterRequest) {
  Rig rig;
  rig.meter.InjectFault(Fault::Late);
  EXPECT_EQ(rig.Read(0x0000, 41, 300).error, LinkError::NoReply);
  rig.clock.Advance(3000);  // the late 87-byte reply is waiting now
  const auto r = rig.Read(0x0300, 26, 300);
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.frame.size(), 57u);
}

// The meter's reply one byte per millisecond after a 5 ms turnaround, as a slow line carries it, on
// virtual time.
class PacedLine : public qm::link::Transport {
 public:
  PacedLine(qm::sim::SimMeter& meter, qm::sim::VirtualClock& clock) : meter_(meter), clock_(clock) {}
  void Open(const std::string&, const qm::link::LineSettings&) override {}
  void Close() override {}
  bool IsOpen() const override { return true; }
  void Apply(const qm::link::LineSettings&) override {}
  void Write(const std::vector<uint8_t>& bytes) override {
    reply_ = meter_.Handle(bytes, {9600, qm::link::Parity::None, 8, 1}).bytes;
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
  void WaitForInput(uint32_t ms) override {
    ++waits;
    for (uint32_t waited = 0; waited < ms && BytesWaiting() == 0; ++waited) clock_.Advance(1);
  }

 private:
  size_t Arrived() const {  // byte i is complete 1 + i ms after the turnaround
    const uint64_t now = clock_.NowMs();
    return now < start_ ? 0 : std::min<size_t>(reply_.size(), static_cast<size_t>(now - start_));
  }

 public:
  int waits = 0;

 private:
  qm::sim::SimMeter& meter_;
  qm::sim::VirtualClock& clock_;
  std::vector<uint8_t> reply_;
  uint64_t start_ = 0;
  size_t taken_ = 0;
};

// Counts the pauses of an exchange on virtual time.
class CountingClock : public qm::link::Clock {
 public:
  explicit CountingClock(qm::sim::VirtualClock& clock) : clock_(clock) {}
  void Sleep(uint32_t ms) override { clock_.Sleep(ms); }
  void Pause(uint32_t us) override {
    ++pauses;
    clock_.Pause(us);
  }
  uint64_t NowMs() const override { return clock_.NowMs(); }
  int pauses = 0;

 private:
  qm::sim::VirtualClock& clock_;
};

TEST(UntilReply, SleepsThroughTheRestOfAReplyThatHasBegunAndStillEndsWithIt) {
  for (const double byteMs : {0.0, 1.0}) {
    qm::sim::VirtualClock clock;
    qm::sim::SimMeter meter;
    PacedLine line(meter, clock);
    CountingClock counted(clock);
    const auto r = qm::link::Exchange(line, counted, {1, 0x03, 0x0000, 41},
                                      qm::link::Timing::UntilReply(400, 0, byteMs));
    ASSERT_TRUE(r.Ok()) << byteMs;
    EXPECT_EQ(r.elapsedMs, 5u + 87u) << "the exchange ends with the reply's last byte, byteMs " << byteMs;
    // One wake-up per byte without the line's rate.
    const int wakeups = line.waits + counted.pauses;
    EXPECT_TRUE(byteMs > 0 ? wakeups <= 12 : wakeups >= 80) << byteMs << ": " << wakeups;
  }
}

TEST(UntilReply, AWriteEndsWithItsEcho) {
  Rig rig;
  const auto r =
      qm::link::Exchange(rig.device, rig.clock, {1, 0x06, 0x030E, 250}, qm::link::Timing::UntilReply(300, 0));
  ASSERT_TRUE(r.Ok());
  EXPECT_EQ(r.frame, rig.device.Log().back().bytes);
  EXPECT_EQ(rig.meter.Word(0x030E), 250);
}

}  // namespace
