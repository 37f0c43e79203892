#pragma once
#include <cstdint>

#include "link/exchange.h"

namespace qm::commands {

// One single-register write of a command: register, value and how much of the reply is read.
struct RegisterWrite {
  uint16_t reg;
  uint16_t value;
  link::ReplyMode mode;
  bool operator==(const RegisterWrite&) const = default;
};

}  // namespace qm::commands
