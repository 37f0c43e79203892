#include "cli/set_plan.h"

#include <algorithm>

#include "cli/reading.h"
#include "commands/meter_writes.h"
#include "link/link_settings.h"
#include "meter/codes.h"
#include "text/word_text.h"

namespace qm::cli {
namespace {

struct NameEntry {
  const char* name;
  Setting setting;
  uint16_t reg;
};

constexpr NameEntry kNames[] = {
    {"pt", Setting::Pt, commands::kRegPtRatio},
    {"ct", Setting::Ct, commands::kRegCtRatio},
    {"wiring", Setting::Wiring, commands::kRegWiring},
    {"accuracy", Setting::Accuracy, commands::kRegAccuracy},
    {"direction", Setting::Direction, commands::kRegPowerDirection},
    {"address", Setting::Address, commands::kRegSlaveAddress},
    {"baud", Setting::Baud, commands::kRegBaud},
};

// The accuracy code whose caption is `text` ("0.5", or "0.5级" as the window shows it).
bool AccuracyCode(const std::string& text, uint16_t& code) {
  for (int c = 0; c < 256; ++c) {
    const std::string caption = meter::AccuracyCaption(static_cast<uint8_t>(c));
    if (caption.empty()) continue;
    const bool prefix = caption.rfind(text, 0) == 0 && caption.size() > text.size() &&
                        !(caption[text.size()] >= '0' && caption[text.size()] <= '9');
    if (!text.empty() && (text == caption || prefix)) {
      code = static_cast<uint16_t>(c);
      return true;
    }
  }
  return false;
}

std::string AccuracyChoices() {
  std::string out;
  for (int c = 0; c < 256; ++c) {
    const std::string caption = meter::AccuracyCaption(static_cast<uint8_t>(c));
    if (!caption.empty()) out += (out.empty() ? "" : " or ") + caption;
  }
  return out;
}

// Checks one value; the text of the refusal otherwise.
std::string Value(Setting setting, const std::string& text, uint16_t& value) {
  long n = 0;
  switch (setting) {
    case Setting::Pt:
    case Setting::Ct:
      if (!text::ReadInteger(text, meter::kRatioMin, meter::kRatioMax, n, text::Radix::Decimal))
        return std::string(setting == Setting::Pt ? "the PT" : "the CT") + " ratio must be " +
               std::to_string(meter::kRatioMin) + ".." + std::to_string(meter::kRatioMax);
      value = static_cast<uint16_t>(n);
      return {};
    case Setting::Wiring:
      for (int code = 0; code < meter::kWiringCodeCount; ++code)
        if (text == meter::WiringCaption(code)) {
          value = static_cast<uint16_t>(code);
          return {};
        }
      if (!text::ReadInteger(text, 0, meter::kWiringCodeCount - 1, n, text::Radix::Decimal))
        return "the wiring mode must be 0.." + std::to_string(meter::kWiringCodeCount - 1) +
               " or its caption";
      value = static_cast<uint16_t>(n);
      return {};
    case Setting::Accuracy:
      if (!AccuracyCode(text, value)) return "the accuracy class must be " + AccuracyChoices();
      return {};
    case Setting::Direction: {
      const std::string t = text::Lower(text);
      if (t == DirectionText(meter::kDirectionNormal))
        value = meter::kDirectionNormal;
      else if (t == DirectionText(meter::kDirectionReversed))
        value = meter::kDirectionReversed;
      else
        return "the power direction must be " + DirectionText(meter::kDirectionNormal) + " or " +
               DirectionText(meter::kDirectionReversed);
      return {};
    }
    case Setting::Address:
      if (!text::ReadInteger(text, 0, 255, n, text::Radix::Decimal))
        return "the slave address must be 0..255";
      value = static_cast<uint16_t>(n);
      return {};
    case Setting::Baud:
      if (!text::ReadInteger(text, 0, 10000000, n, text::Radix::Decimal) ||
          meter::BaudCode(static_cast<int32_t>(n)) < 0)
        return "the baud rate must be " + BaudRateList();
      value = static_cast<uint16_t>(meter::BaudCode(static_cast<int32_t>(n)));
      return {};
  }
  return "unknown setting";
}

}  // namespace

const char* SettingName(Setting setting) {
  for (const NameEntry& e : kNames)
    if (e.setting == setting) return e.name;
  return "";
}

SetPlan PlanSettings(const std::vector<std::string>& words, size_t meters) {
  SetPlan plan;
  for (const std::string& word : words) {
    const size_t eq = word.find('=');
    const std::string name = text::Lower(word.substr(0, eq));
    const NameEntry* entry = nullptr;
    for (const NameEntry& e : kNames)
      if (name == e.name) entry = &e;
    if (eq == std::string::npos || !entry) {
      plan.error = "'" + word +
                   "' is not NAME=VALUE with NAME one of pt, ct, wiring, accuracy, direction, "
                   "address, baud; nothing was sent";
      return plan;
    }
    const std::string text = word.substr(eq + 1);
    uint16_t value = 0;
    if (const std::string why = Value(entry->setting, text, value); !why.empty()) {
      plan.error = "refused " + word + ": " + why + "; nothing was sent";
      return plan;
    }
    if (std::any_of(plan.writes.begin(), plan.writes.end(),
                    [&](const SettingWrite& w) { return w.setting == entry->setting; })) {
      plan.error = "refused " + word + ": " + entry->name + " is given twice; nothing was sent";
      return plan;
    }
    plan.writes.push_back({entry->setting, entry->reg, value, ShownValue(entry->setting, value)});
  }
  const bool address = std::any_of(plan.writes.begin(), plan.writes.end(),
                                   [](const SettingWrite& w) { return w.setting == Setting::Address; });
  if (address && meters != 1) {
    plan.error = "refused address=: one slave address cannot go to several meters; nothing was sent";
    return plan;
  }
  std::stable_sort(plan.writes.begin(), plan.writes.end(),
                   [](const SettingWrite& a, const SettingWrite& b) { return a.setting < b.setting; });
  return plan;
}

uint16_t ReadBack(Setting setting, const poll::SettingsValues& v) {
  switch (setting) {
    case Setting::Pt:
      return static_cast<uint16_t>(v.pt);
    case Setting::Ct:
      return static_cast<uint16_t>(v.ct);
    case Setting::Wiring:
      return v.wiring;
    case Setting::Accuracy:
      return v.accuracy;
    case Setting::Direction:
      return static_cast<uint16_t>(v.powerDirection);
    case Setting::Address:
      return v.slaveAddress;
    case Setting::Baud:
      return v.baudCode;
  }
  return 0;
}

std::string ShownValue(Setting setting, uint16_t value) {
  switch (setting) {
    case Setting::Wiring: {
      const std::string caption = meter::WiringCaption(value);
      return caption.empty() ? std::to_string(value) : std::to_string(value) + " " + caption;
    }
    case Setting::Accuracy: {
      const std::string caption = meter::AccuracyCaption(static_cast<uint8_t>(value));
      return caption.empty() ? "code " + std::to_string(value) : caption;
    }
    case Setting::Direction:
      return DirectionText(value);
    case Setting::Baud: {
      const int32_t baud = meter::BaudForCode(value);
      return baud ? std::to_string(baud) : "code " + std::to_string(value);
    }
    default:
      return std::to_string(value);
  }
}

}  // namespace qm::cli
