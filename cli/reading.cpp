#include "cli/reading.h"

#include <charconv>

#include "commands/meter_writes.h"
#include "meter/codes.h"
#include "meter/quantities.h"

namespace qm::cli {

bool ReadIdentification(MeterLink& port, MeterReading& reading, std::string& error) {
  const link::ExchangeResult r =
      port.Read(reading.address, meter::kIdentificationAddress, meter::kIdentificationWords);
  if (!r.Ok()) {
    error = "identification: " + link::DescribeFailure(r);
    return false;
  }
  reading.identification = poll::ParseIdentification(r.Data());
  reading.identified = true;
  return true;
}

bool ReadSettings(MeterLink& port, MeterReading& reading, int32_t previousMultiplier, std::string& error) {
  const link::ExchangeResult r = port.Read(reading.address, meter::kSettingsAddress, meter::kSettingsWords);
  if (!r.Ok()) {
    error = "settings block: " + link::DescribeFailure(r);
    return false;
  }
  reading.settings = poll::ParseSettings(
      std::span<const uint8_t, meter::kSettingsBytes>(r.Data().data(), meter::kSettingsBytes),
      previousMultiplier);
  return true;
}

bool ReadMeasurements(MeterLink& port, MeterReading& reading, std::string& error) {
  const link::ExchangeResult r =
      port.Read(reading.address, meter::kMeasurementAddress, meter::kMeasurementWords, ReplyWait::Long);
  if (!r.Ok()) {
    error = "measurement block: " + link::DescribeFailure(r);
    return false;
  }
  const poll::SettingsValues& s = reading.settings;
  const poll::Scaling scaling{s.pt, s.ct, s.powerScale, s.energyMultiplier};
  reading.values = poll::DecodeMeasurements(
      std::span<const uint8_t, meter::kMeasurementBytes>(r.Data().data(), meter::kMeasurementBytes), scaling);
  return true;
}

std::string BaudRateList() {
  std::string out;
  for (size_t i = 0; i < meter::kBaudRates.size(); ++i)
    out += (i == 0                              ? ""
            : i + 1 == meter::kBaudRates.size() ? " or "
                                                : ", ") +
           std::to_string(meter::kBaudRates[i]);
  return out;
}

std::string DirectionText(int32_t flag) {
  if (flag == meter::kDirectionNormal) return "normal";
  if (flag == meter::kDirectionReversed) return "reversed";
  return std::to_string(flag);
}

std::string ColumnName(const poll::MeasurementSlot& slot) {
  const auto quantity = meter::WordQuantity(slot.word);
  const std::string unit = quantity ? meter::SiUnit(*quantity) : "";
  return poll::MeasurementName(slot.word) + (unit.empty() ? "" : "_" + unit);
}

std::string PlainNumber(double value) {
  if (value == 0) value = 0;  // no "-0"
  char buf[400];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return ec == std::errc() ? std::string(buf, end) : std::string("0");
}

}  // namespace qm::cli
