#pragma once
#include <cstdint>
#include <string>

#include "link/parity.h"

namespace qm::link {

// Serial link settings in the order both dialogs hold them; the presets of every start.
struct LinkSettings {
  Parity parity = Parity::None;
  int32_t baud = 9600;
  int32_t port = 1;  // 1 is the PC's first serial port
  bool operator==(const LinkSettings&) const = default;
};

// Serial port numbers the port dialogs accept (COM1 to COM255).
constexpr int32_t kPortMin = 1;
constexpr int32_t kPortMax = 255;

// Poll interval and the two reply waits, in milliseconds, chosen by baud rate.
struct TimingSet {
  uint32_t pollInterval = 700;
  uint32_t shortWait = 200;
  uint32_t longWait = 400;
  bool operator==(const TimingSet&) const = default;
};

// Unknown rates keep the 9600 figures: the dialogs only offer the five listed rates.
TimingSet TimingForBaud(int32_t baud);

// "9600,N,8,1" and its siblings; parity outside 0..2 falls back to N.
std::string SettingsString(int32_t baud, Parity parity);

}  // namespace qm::link
