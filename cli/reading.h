#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "cli/meter_link.h"
#include "poll/identification.h"
#include "poll/measurements.h"
#include "poll/settings_block.h"

namespace qm::cli {

// What one read of a meter brought: the blocks the window reads, decoded by the window's own code.
struct MeterReading {
  uint8_t address = 0;
  bool identified = false;
  poll::Identification identification;
  poll::SettingsValues settings;
  std::vector<poll::Measurement> values;  // the 33 shown quantities, in the window's order
};

// Each returns false and says in `error` which block failed and why ("measurement block: no reply").
bool ReadIdentification(MeterLink& port, MeterReading& reading, std::string& error);
// `previousMultiplier` is kept for an energy decade the table does not have, as the window does.
bool ReadSettings(MeterLink& port, MeterReading& reading, int32_t previousMultiplier, std::string& error);
// Decodes with the scaling of the settings in `reading`.
bool ReadMeasurements(MeterLink& port, MeterReading& reading, std::string& error);

// "1200, 2400, 4800, 9600 or 19200": the rates the meter can run at.
std::string BaudRateList();

// "normal", "reversed", or the flag's number for any other value.
std::string DirectionText(int32_t flag);

// A column name with its unit: "Ua_V", "PF", "EPimp_Wh".
std::string ColumnName(const poll::MeasurementSlot& slot);

// Shortest text that reads back as the same double, never in exponent form ("220", "0.5").
std::string PlainNumber(double value);

}  // namespace qm::cli
