#include "cli/reading.h"

#include <charconv>

#include "commands/meter_writes.h"

namespace qm::cli {

bool ReadIdentification(MeterLink& link, MeterReading& reading, std::string& error) {
  const TransactionResult r =
      link.Read(reading.address, poll::kIdentificationAddress, poll::kIdentificationQuantity);
  if (!r.Ok()) {
    error = "identification: " + DescribeFailure(r);
    return false;
  }
  reading.identification =
      poll::ParseIdentification(std::span<const uint8_t, poll::kIdentificationBytes>(r.Data().data(), poll::kIdentificationBytes));
  reading.identified = true;
  return true;
}

bool ReadSettings(MeterLink& link, MeterReading& reading, int32_t previousMultiplier, std::string& error) {
  const TransactionResult r = link.Read(reading.address, poll::kSettingsAddress, poll::kSettingsQuantity);
  if (!r.Ok()) {
    error = "settings block: " + DescribeFailure(r);
    return false;
  }
  reading.settings = poll::ParseSettings(
      std::span<const uint8_t, poll::kSettingsBytes>(r.Data().data(), poll::kSettingsBytes), previousMultiplier);
  return true;
}

bool ReadMeasurements(MeterLink& link, MeterReading& reading, std::string& error) {
  const TransactionResult r =
      link.Read(reading.address, poll::kMeasurementAddress, poll::kMeasurementQuantity, ReplyWait::Long);
  if (!r.Ok()) {
    error = "measurement block: " + DescribeFailure(r);
    return false;
  }
  const poll::SettingsValues& s = reading.settings;
  const poll::Scaling scaling{s.pt, s.ct, s.powerScale, s.energyMultiplier};
  reading.values = poll::DecodeMeasurements(
      std::span<const uint8_t, poll::kMeasurementBytes>(r.Data().data(), poll::kMeasurementBytes), scaling);
  return true;
}

std::string DirectionText(int32_t flag) {
  if (flag == kDirectionNormal) return "normal";
  if (flag == kDirectionReversed) return "reversed";
  return std::to_string(flag);
}

std::string ColumnName(const poll::MeasurementSlot& slot) {
  const std::string unit = poll::SiUnit(slot.quantity);
  return poll::SlotName(slot) + (unit.empty() ? "" : "_" + unit);
}

std::string PlainNumber(double value) {
  if (value == 0) value = 0;  // no "-0"
  char buf[400];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

}  // namespace qm::cli
