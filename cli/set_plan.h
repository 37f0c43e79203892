#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "poll/settings_block.h"

namespace qm::cli {

// The settings `set` writes, in the order it writes them: the address and the baud rate last, since
// they change how the meter is reached.
enum class Setting { Pt, Ct, Wiring, Accuracy, Direction, Address, Baud };

struct SettingWrite {
  Setting setting;
  uint16_t reg;
  uint16_t value;
  std::string shown;  // the value as the user will read it back ("0.2级", "19200")
};

struct SetPlan {
  std::vector<SettingWrite> writes;
  std::string error;  // why a value is refused; nothing may be sent then
};

// NAME=VALUE words into writes; every value is checked here, before anything is sent.
// `meters` is how many meters the writes go to (an address is one meter's alone).
SetPlan PlanSettings(const std::vector<std::string>& words, size_t meters);

const char* SettingName(Setting setting);

// The setting's value as the settings block holds it, to compare with what was written.
uint16_t ReadBack(Setting setting, const poll::SettingsValues& values);

// The read-back value as the user reads it ("3相3线(平衡)", "reversed", "9600").
std::string ShownValue(Setting setting, uint16_t value);

}  // namespace qm::cli
