// The monitor's serial port control over QSerialPort against the qm7410-sim tool on a pseudo-terminal,
// on real time.
#include "e2e.h"
#include "tests/support/sim_process.h"

namespace {

TEST(SimLink, ReadAndWriteThroughTheRealPort) {
  qmtest::SimProcess sim({"--address", "3", "--pt", "100", "--fault", "late"});
  ASSERT_TRUE(sim.Ready());
  e2e::Link link(sim.Link().toStdString());
  // The late reply misses the wait; once it has come, the next exchange drops it before sending.
  EXPECT_EQ(link.Run(3, 0x03, 0x0300, 26).received, 0);
  for (int waited = 0; link.comm.GetInBufferCount() < 57 && waited < 20000; waited += 50)
    link.clock.Sleep(50);
  ASSERT_EQ(link.comm.GetInBufferCount(), 57) << "the late reply never came";
  auto r = link.Run(3, 0x03, 0x0300, 26);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 57);
  EXPECT_EQ(link.rx[3 + 1], 3);  // data byte 1: the address
  EXPECT_EQ(link.Word(7), 100);  // data bytes 14-15: PT
  r = link.Run(3, 0x06, 0x030E, 250);
  ASSERT_EQ(r.index, 0);
  EXPECT_EQ(r.received, 8);
  ASSERT_EQ(link.Run(3, 0x03, 0x0300, 26).index, 0);
  EXPECT_EQ(link.Word(7), 250);
  EXPECT_EQ(link.Run(1, 0x03, 0x0300, 26).index, -1);  // another address stays unanswered
}

}  // namespace
