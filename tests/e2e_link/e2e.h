#pragma once
// The monitor's side of a line in the end-to-end link tests: serial port 9 pointed at a path and
// opened, with the program's exchange and real wait.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "link/event_loop_clock.h"
#include "link/exchange.h"
#include "link/qt_serial_device.h"

namespace e2e {

struct Link {
  explicit Link(const std::string& path) {
    setenv("QM7410_COM9", path.c_str(), 1);
    comm.SetCommPort(9);
    comm.SetPortOpen(true);
  }
  // A longer wait than the program's, so a busy machine cannot make a test flaky.
  qm::link::ExchangeResult Run(uint8_t address, uint8_t function, uint16_t reg, uint16_t word) {
    return qm::link::Exchange({comm, clock, request, rx}, address, function, reg, word, 600,
                              qm::link::ReplyMode::Check);
  }
  // Word `k` of the data of a reply found at index 0.
  int Word(int k) const {
    return rx[static_cast<size_t>(3 + 2 * k)] << 8 | rx[static_cast<size_t>(4 + 2 * k)];
  }
  qm::link::QtSerialDevice device;
  qm::link::CMSComm comm{&device};
  qm::link::EventLoopClock clock;
  qm::link::RequestFrame request{};
  qm::link::ReceiveBuffer rx{};
};

}  // namespace e2e
