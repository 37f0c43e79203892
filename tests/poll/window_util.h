#pragma once
// Helpers shared by the poll window tests.
#include <QString>
#include <cstdint>
#include <vector>

#include "tests/support/harness.h"

namespace polltest {

// Request fields as they crossed the wire.
inline uint8_t AddressOf(const std::vector<uint8_t>& req) { return req.at(0); }
inline uint16_t RegisterOf(const std::vector<uint8_t>& req) {
  return static_cast<uint16_t>(req.at(2) << 8 | req.at(3));
}
inline uint16_t QuantityOf(const std::vector<uint8_t>& req) {
  return static_cast<uint16_t>(req.at(4) << 8 | req.at(5));
}

// Types the meter's address into edit 1061 and presses run, as a user starts polling.
inline void StartPolling(qmtest::Harness& h, int address = 1) {
  h.dlg->SetDlgItemText(1061, QString::number(address));
  h.dlg->Click(1063);
}

// Settings block byte k lives at 0x0300 + k in the simulated meter.
constexpr uint16_t Setting(int k) { return static_cast<uint16_t>(0x0300 + k); }

}  // namespace polltest
