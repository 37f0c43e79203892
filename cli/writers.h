#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/reading.h"

namespace qm::cli {

// Where the meters were read: shown in the table and the JSON.
struct LineInfo {
  std::string device;
  int32_t baud = 9600;
  link::Parity parity = link::Parity::None;
};

std::string JsonString(const std::string& text);
std::string CsvField(const std::string& text);

// read: every meter's identification, settings and 33 values. Table and JSON carry all of it; CSV
// has one row per item (address, name, text, value, unit) with a number in every value field.
std::string FormatRead(Format format, const LineInfo& line, const std::vector<MeterReading>& meters);

// identify: model, version and the window's title of each meter.
std::string FormatIdentify(Format format, const std::vector<MeterReading>& meters);

// scan: the addresses that answered.
std::string FormatScan(Format format, const LineInfo& line, const std::vector<uint8_t>& found);

struct RawWords {
  uint8_t address = 0;
  uint16_t start = 0;
  std::vector<uint16_t> words;
};
std::string FormatRaw(Format format, const std::vector<RawWords>& meters);

// RFC 3339 in UTC with milliseconds: "2024-05-01T12:00:00.123Z".
std::string Rfc3339(std::chrono::system_clock::time_point time);

// log: the header (CSV only; JSON lines name their fields) and one row per meter and interval.
std::string LogHeader(Format format);
std::string LogRow(Format format, std::chrono::system_clock::time_point time, const MeterReading& meter);

}  // namespace qm::cli
