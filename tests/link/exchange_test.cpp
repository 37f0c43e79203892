// The exchange against the in-process simulated meter on virtual time.
#include "link/exchange.h"

#include <gtest/gtest.h>

#include <numeric>
#include <tuple>

#include "sim/sim_commands.h"
#include "sim/sim_serial_device.h"

namespace {

using qm::sim::Fault;

TEST(CopyReceived, NeverRunsPastTheArrayOrTheBuffer) {
  // bytes counted as received, bytes delivered, bytes copied
  const std::tuple<int16_t, size_t, int16_t> cases[] = {{0, 10, 0},    {10, 10, 10},      {10, 4, 4},
                                                        {-1, 10, 0},   {400, 500, 400},   {401, 500, 400},
                                                        {32767, 3, 3}, {32767, 500, 400}, {-32768, 500, 0}};
  for (const auto& [count, size, copied] : cases) {
    std::vector<uint8_t> delivered(size);
    std::iota(delivered.begin(), delivered.end(), uint8_t{1});
    qm::link::ReceiveBuffer rx;
    rx.fill(0xEE);
    EXPECT_EQ(qm::link::CopyReceived(delivered, count, rx), copied) << count << " of " << size;
    EXPECT_TRUE(std::equal(rx.begin(), rx.begin() + copied, delivered.begin())) << count;
    EXPECT_TRUE(copied == qm::link::kReceiveSize || rx[static_cast<size_t>(copied)] == 0xEE) << "copied too much";
  }
}

struct Rig {
  explicit Rig(qm::sim::MeterConfig config = {}, const std::string& settings = "9600,N,8,1")
      : meter(config), device(meter, clock), comm(&device) {
    comm.SetSettings(settings);
    comm.SetPortOpen(true);
  }
  qm::link::ExchangeResult Read(uint16_t reg, uint16_t quantity, uint32_t wait) {
    return qm::link::Exchange({comm, clock, request, rx}, 1, 0x03, reg, quantity, wait, qm::link::ReplyMode::Check);
  }
  qm::sim::VirtualClock clock;
  qm::sim::SimMeter meter;
  qm::sim::SimSerialDevice device;
  qm::link::CMSComm comm;
  qm::link::RequestFrame request{};
  qm::link::ReceiveBuffer rx{};
};

TEST(SendFrame, ClosedPortSendsNothing) {
  Rig rig;
  rig.comm.SetPortOpen(false);
  const uint8_t frame[] = {1, 3, 0, 0, 0, 1, 0x84, 0x0A};
  qm::link::SendFrame(rig.comm, frame, 8);
  EXPECT_EQ(rig.Read(0x0300, 26, 200).index, -1);
  EXPECT_TRUE(rig.device.Log().empty());
}

// Each fault on one reply: nothing is taken for a reply but the reply itself, and the next exchange
// works again.
TEST(Exchange, FaultsGiveNoReplyAndTheNextExchangeRecovers) {
  // fault, where the reply is found, bytes received
  const std::tuple<Fault, int16_t, int16_t> cases[] = {
      {Fault::None, 0, 57},      {Fault::Silence, -1, 0},    {Fault::Late, -1, 0},
      {Fault::Noise, 3, 60},     {Fault::BadCrc, -1, 57},    {Fault::WrongAddress, -1, 57},
      {Fault::Exception, -1, 5}, {Fault::Truncated, -1, 54}, {Fault::Flood, -1, 400}};
  for (const auto& [fault, index, received] : cases) {
    Rig rig;
    if (fault != Fault::None) rig.meter.InjectFault(fault);
    const auto bad = rig.Read(0x0300, 26, 1000);  // long enough for the whole flood
    EXPECT_EQ(bad.index, index) << qm::sim::FaultName(fault);
    EXPECT_EQ(bad.received, received) << qm::sim::FaultName(fault);
    rig.clock.Advance(3000);  // the late reply is in by now: the next exchange must drop it first
    const auto good = rig.Read(0x0300, 26, 200);
    EXPECT_EQ(good.index, 0) << qm::sim::FaultName(fault);
    EXPECT_EQ(good.received, 57) << qm::sim::FaultName(fault);
  }
}

}  // namespace
