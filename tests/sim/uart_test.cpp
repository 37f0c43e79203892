// The bit-level UART model: characters sent at one speed or parity and sampled at another, against
// cases worked out by hand bit by bit.
#include "sim/uart.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/sim_meter.h"
#include "sim/sim_serial_device.h"
#include "sim/virtual_clock.h"

namespace {

using qm::link::LineSettings;
using qm::sim::UartChar;
using qm::sim::UartReceive;

const LineSettings k9600N{9600, qm::link::Parity::None, 8, 1};
const LineSettings k19200N{19200, qm::link::Parity::None, 8, 1};
const LineSettings k9600E{9600, qm::link::Parity::Even, 8, 1};
const LineSettings k9600O{9600, qm::link::Parity::Odd, 8, 1};

std::vector<UartChar> Receive(uint8_t byte, const LineSettings& tx, const LineSettings& rx) {
  return UartReceive({byte}, tx, rx);
}

TEST(UartModel, AgreeingUartsPassEveryByte) {
  const std::vector<uint8_t> bytes{0x55, 0x01, 0xFF, 0x00, 0x80};
  const std::vector<UartChar> got = UartReceive(bytes, k9600E, k9600E);
  ASSERT_EQ(got.size(), bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(got[i], (UartChar{bytes[i], false, false})) << i;
}

TEST(UartModel, AFasterReceiverSamplesEachSentBitTwice) {
  // At 19200 a bit is half a 9600 bit: the data samples fall on start, d0, d0, d1, d1, d2, d2, d3 of the
  // sent character, and the stop sample on d3.
  EXPECT_EQ(Receive(0xFF, k9600N, k19200N), (std::vector<UartChar>{{0xFE, false, false}}));
  EXPECT_EQ(Receive(0x01, k9600N, k19200N), (std::vector<UartChar>{{0x06, true, false}}));
}

TEST(UartModel, ASlowerReceiverSkipsBitsAndMaySeeAFalseStart) {
  // At 9600 a bit spans two 19200 bits: the start sample lands on d0, the data samples on d2, d4, d6,
  // the stop bit and the idle line.
  EXPECT_EQ(Receive(0x00, k19200N, k9600N), (std::vector<UartChar>{{0xF8, false, false}}));
  // d0 = 1 makes the first start a false one; the next falling edge (d1) starts a character whose
  // samples land on d4, d6, the stop bit and idle.
  EXPECT_EQ(Receive(0x01, k19200N, k9600N), (std::vector<UartChar>{{0xFC, false, false}}));
}

TEST(UartModel, ParityMismatches) {
  // 0x00 with even parity carries a 0 parity bit where a no-parity receiver wants its stop bit.
  EXPECT_EQ(Receive(0x00, k9600E, k9600N), (std::vector<UartChar>{{0x00, true, false}}));
  // Without parity the stop bit (1) stands where the receiver checks parity: right for 0x01 under even
  // parity, wrong for 0x00 under even and for 0x01 under odd.
  EXPECT_EQ(Receive(0x01, k9600N, k9600E), (std::vector<UartChar>{{0x01, false, false}}));
  EXPECT_EQ(Receive(0x00, k9600N, k9600E), (std::vector<UartChar>{{0x00, false, true}}));
  EXPECT_EQ(Receive(0x01, k9600N, k9600O), (std::vector<UartChar>{{0x01, false, true}}));
}

TEST(UartModel, ThePcHearsAMeterAtAnotherSpeedAsOtherBytes) {
  // The in-process line: the request goes out at the meter's 9600 baud, then the port switches to
  // 19200 before the reply is in. What arrives is neither silence nor a run of 0xFF, and not the reply.
  qm::sim::SimMeter meter;
  qm::sim::VirtualClock clock;
  qm::sim::SimSerialDevice port(meter, clock);
  port.Open("/dev/ttyS0", k9600N);
  port.Write({0x01, 0x03, 0x03, 0xE0, 0x00, 0x02, 0xC5, 0xB9});
  port.Apply(k19200N);
  port.WaitForInput(1000);
  clock.Advance(100);
  const std::vector<uint8_t> got = port.ReadAll();
  ASSERT_FALSE(got.empty());
  const std::vector<uint8_t> replyStart{0x01, 0x03, 0x04, 0x1C, 0xF2, 0x04, 0xB3};
  EXPECT_FALSE(got.size() >= replyStart.size() &&
               std::equal(replyStart.begin(), replyStart.end(), got.begin()));
  EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](uint8_t b) { return b != 0xFF; }));

  // A request at 19200 to the meter at 9600 is heard garbled: no answer.
  port.DiscardInput();
  port.Write({0x01, 0x03, 0x03, 0xE0, 0x00, 0x02, 0xC5, 0xB9});
  port.WaitForInput(1000);
  EXPECT_EQ(port.BytesWaiting(), 0);
}

}  // namespace
