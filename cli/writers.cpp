#include "cli/writers.h"

#include <ctime>

#include "commands/meter_writes.h"
#include "meter/codes.h"
#include "text/text_format.h"

namespace qm::cli {
namespace {

using text::Printf;

// One item of a meter's settings and identification: name, text, number.
struct Item {
  const char* name;
  std::string text;
  long long value;
};

std::vector<Item> SettingItems(const MeterReading& m) {
  const poll::SettingsValues& s = m.settings;
  std::vector<Item> items;
  if (m.identified) {
    items.push_back({"model", std::to_string(m.identification.model), m.identification.model});
    items.push_back({"version", std::to_string(m.identification.version), m.identification.version});
  }
  items.push_back({"PT", std::to_string(s.pt), s.pt});
  items.push_back({"CT", std::to_string(s.ct), s.ct});
  items.push_back({"wiring", meter::WiringCaption(s.wiring), s.wiring});
  items.push_back({"accuracy", meter::AccuracyCaption(s.accuracy), s.accuracy});
  items.push_back({"direction", DirectionText(s.powerDirection), s.powerDirection});
  return items;
}

std::string Title(const MeterReading& m) {
  return poll::IdentificationTitle(m.identification.model, m.identification.version);
}

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string ReadTable(const LineInfo& line, const std::vector<MeterReading>& meters) {
  std::string out;
  for (const MeterReading& m : meters) {
    if (!out.empty()) out += "\n";
    out += Printf("meter %d on %s at %d,%c\n", m.address, line.device.c_str(), static_cast<int>(line.baud),
                  link::ParityLetter(line.parity));
    if (m.identified) out += "  " + Pad("title", 11) + Title(m) + "\n";
    for (const Item& item : SettingItems(m)) {
      const std::string number = std::to_string(item.value);
      out += "  " + Pad(item.name, 11) + (item.text == number ? number : number + "  " + item.text) + "\n";
    }
    out += "\n  " + Pad("name", 7) + Pad("window", 20) + Pad("value", 22) + "unit\n";
    for (const poll::Measurement& v : m.values)
      out += "  " + Pad(poll::MeasurementName(v.slot.word), 7) + Pad(v.text, 20) +
             Pad(PlainNumber(v.value), 22) + meter::SiUnit(v.quantity) + "\n";
  }
  return out;
}

std::string ReadJson(const LineInfo& line, const std::vector<MeterReading>& meters) {
  std::string out = "{\n  \"port\": " + JsonString(line.device) +
                    ",\n  \"baud\": " + std::to_string(line.baud) +
                    ",\n  \"parity\": " + JsonString(std::string(1, link::ParityLetter(line.parity))) +
                    ",\n  \"meters\": [";
  for (size_t k = 0; k < meters.size(); ++k) {
    const MeterReading& m = meters[k];
    const poll::SettingsValues& s = m.settings;
    out += k ? ",\n    {\n" : "\n    {\n";
    out += "      \"address\": " + std::to_string(m.address) + ",\n";
    if (m.identified)
      out += "      \"identification\": {\"model\": " + std::to_string(m.identification.model) +
             ", \"version\": " + std::to_string(m.identification.version) +
             ", \"title\": " + JsonString(Title(m)) + "},\n";
    out += "      \"settings\": {\"pt\": " + std::to_string(s.pt) + ", \"ct\": " + std::to_string(s.ct) +
           ", \"wiring\": {\"code\": " + std::to_string(s.wiring) +
           ", \"text\": " + JsonString(meter::WiringCaption(s.wiring)) +
           "}, \"accuracy\": {\"code\": " + std::to_string(s.accuracy) +
           ", \"text\": " + JsonString(meter::AccuracyCaption(s.accuracy)) +
           "}, \"direction\": {\"code\": " + std::to_string(s.powerDirection) +
           ", \"text\": " + JsonString(DirectionText(s.powerDirection)) + "}},\n";
    out += "      \"values\": [";
    for (size_t i = 0; i < m.values.size(); ++i) {
      const poll::Measurement& v = m.values[i];
      out += i ? ",\n" : "\n";
      out += "        {\"name\": " + JsonString(poll::MeasurementName(v.slot.word)) +
             ", \"text\": " + JsonString(v.text) + ", \"value\": " + PlainNumber(v.value) +
             ", \"unit\": " + JsonString(meter::SiUnit(v.quantity)) + "}";
    }
    out += "\n      ]\n    }";
  }
  out += meters.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::string ReadCsv(const std::vector<MeterReading>& meters) {
  std::string out = "address,name,text,value,unit\n";
  for (const MeterReading& m : meters) {
    const std::string a = std::to_string(m.address) + ",";
    for (const Item& item : SettingItems(m))
      out += a + item.name + "," + CsvField(item.text) + "," + std::to_string(item.value) + ",\n";
    for (const poll::Measurement& v : m.values)
      out += a + CsvField(poll::MeasurementName(v.slot.word)) + "," + CsvField(v.text) + "," +
             PlainNumber(v.value) + "," + meter::SiUnit(v.quantity) + "\n";
  }
  return out;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20)
          out += Printf("\\u%04x", c);
        else
          out += ch;  // UTF-8 passes as it is
    }
  }
  return out + "\"";
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string FormatRead(Format format, const LineInfo& line, const std::vector<MeterReading>& meters) {
  switch (format) {
    case Format::Json:
      return ReadJson(line, meters);
    case Format::Csv:
      return ReadCsv(meters);
    default:
      return ReadTable(line, meters);
  }
}

std::string FormatIdentify(Format format, const std::vector<MeterReading>& meters) {
  std::string out;
  if (format == Format::Json) {
    out = "{\"meters\": [";
    for (size_t k = 0; k < meters.size(); ++k) {
      const MeterReading& m = meters[k];
      out += (k ? ",\n  " : "\n  ") +
             Printf("{\"address\": %d, \"model\": %d, \"version\": %d, \"title\": ", m.address,
                    m.identification.model, m.identification.version) +
             JsonString(Title(m)) + "}";
    }
    return out + (meters.empty() ? "]}\n" : "\n]}\n");
  }
  if (format == Format::Csv) out = "address,model,version,title\n";
  for (const MeterReading& m : meters) {
    if (format == Format::Csv)
      out += Printf("%d,%d,%d,", m.address, m.identification.model, m.identification.version) +
             CsvField(Title(m)) + "\n";
    else
      out += Printf("meter %d: model %d, version %d, ", m.address, m.identification.model,
                    m.identification.version) +
             Title(m) + "\n";
  }
  return out;
}

std::string FormatScan(Format format, const LineInfo& line, const std::vector<uint8_t>& found) {
  std::string out;
  if (format == Format::Json) {
    out = "{\"port\": " + JsonString(line.device) + ", \"baud\": " + std::to_string(line.baud) +
          ", \"parity\": " + JsonString(std::string(1, link::ParityLetter(line.parity))) +
          ", \"addresses\": [";
    for (size_t k = 0; k < found.size(); ++k) out += (k ? ", " : "") + std::to_string(found[k]);
    return out + "]}\n";
  }
  if (format == Format::Csv) out = "address\n";
  for (uint8_t a : found)
    out += (format == Format::Csv ? "" : "meter at address ") + std::to_string(a) + "\n";
  return out;
}

std::string FormatRaw(Format format, const std::vector<RawWords>& meters) {
  std::string out;
  if (format == Format::Json) {
    out = "{\"meters\": [";
    for (size_t k = 0; k < meters.size(); ++k) {
      out += (k ? ",\n  " : "\n  ") +
             Printf("{\"address\": %d, \"start\": %d, \"words\": [", meters[k].address, meters[k].start);
      for (size_t i = 0; i < meters[k].words.size(); ++i)
        out += (i ? ", " : "") + std::to_string(meters[k].words[i]);
      out += "]}";
    }
    return out + (meters.empty() ? "]}\n" : "\n]}\n");
  }
  if (format == Format::Csv) out = "address,index,value\n";
  for (const RawWords& m : meters) {
    if (format != Format::Csv)
      out += Printf("meter %d, %zu words from %d:\n", m.address, m.words.size(), m.start);
    for (size_t i = 0; i < m.words.size(); ++i)
      out += format == Format::Csv ? Printf("%d,%zu,%d\n", m.address, i, m.words[i])
                                   : Printf("  %3zu  %5d  0x%04X\n", i, m.words[i], m.words[i]);
  }
  return out;
}

std::string Rfc3339(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  return Printf("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ms - static_cast<long long>(seconds) * 1000));
}

std::string LogHeader(Format format) {
  if (format != Format::Csv) return {};
  std::string out = "time,address";
  for (const poll::MeasurementSlot& slot : poll::MeasurementSlots()) {
    out += ',';  // piece by piece: GCC 12 at -O3 warns on "literal" + std::string&&
    out += CsvField(ColumnName(slot));
  }
  return out + "\n";
}

std::string LogRow(Format format, std::chrono::system_clock::time_point time, const MeterReading& meter) {
  // Appended piece by piece: GCC 12 at -O3 takes "literal" + std::string&& for an overlapping copy.
  const bool json = format == Format::Jsonl;
  std::string out;
  if (json) {
    out += "{\"time\": ";
    out += JsonString(Rfc3339(time));
    out += ", \"address\": ";
  } else {
    out += Rfc3339(time);
    out += ',';
  }
  out += std::to_string(meter.address);
  for (const poll::Measurement& v : meter.values) {
    if (json) {
      out += ", ";
      out += JsonString(ColumnName(v.slot));
      out += ": ";
    } else {
      out += ',';
    }
    out += PlainNumber(v.value);
  }
  out += json ? "}\n" : "\n";
  return out;
}

}  // namespace qm::cli
