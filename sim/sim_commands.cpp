#include "sim/sim_commands.h"

#include <sstream>
#include <vector>

#include "text/word_text.h"

namespace qm::sim {
namespace {

struct FaultNameEntry {
  const char* name;
  Fault fault;
};
constexpr FaultNameEntry kFaults[] = {
    {"silence", Fault::Silence},
    {"late", Fault::Late},
    {"noise", Fault::Noise},
    {"badcrc", Fault::BadCrc},
    {"wrongaddress", Fault::WrongAddress},
    {"exception", Fault::Exception},
    {"truncated", Fault::Truncated},
    {"flood", Fault::Flood},
    {"gatewaypath", Fault::GatewayPath},
    {"gatewaytarget", Fault::GatewayTarget},
    {"close", Fault::Close},
    {"stall", Fault::Stall},
    {"wrongtid", Fault::WrongTid},
};

}  // namespace

bool ParseFault(const std::string& text, Fault& fault, int& count) {
  const auto colon = text.find(':');
  const std::string name = text::Lower(text.substr(0, colon));
  long n = 1;
  if (colon != std::string::npos && !text::ReadInteger(text.substr(colon + 1), 1, 1000000, n)) return false;
  for (const auto& entry : kFaults) {
    if (name == entry.name || (name == "wrong-address" && entry.fault == Fault::WrongAddress) ||
        (name == "bad-crc" && entry.fault == Fault::BadCrc)) {
      fault = entry.fault;
      count = static_cast<int>(n);
      return true;
    }
  }
  return false;
}

const char* FaultName(Fault fault) {
  for (const auto& entry : kFaults)
    if (entry.fault == fault) return entry.name;
  return "none";
}

std::string RunCommand(SimMeter& meter, const std::string& line, bool& quit) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  if (words.empty()) return "ok";
  const std::string cmd = text::Lower(words[0]);
  const size_t args = words.size() - 1;
  long a = 0, b = 0;

  if (cmd == "quit" || cmd == "exit") {
    quit = true;
    return "ok quit";
  }
  if (cmd == "fault" && (args == 1 || args == 2)) {
    Fault fault = Fault::None;
    int count = 1;
    std::string faultText = words[1];
    if (args == 2) faultText += ":" + words[2];
    if (!ParseFault(faultText, fault, count)) return "error: unknown fault '" + faultText + "'";
    meter.InjectFault(fault, count);
    return "ok fault " + std::string(FaultName(fault)) + " " + std::to_string(count);
  }
  if (cmd == "clear" && args == 0) {
    meter.ClearFaults();
    return "ok clear";
  }
  if ((cmd == "freeze" || cmd == "unfreeze") && args == 0) {
    meter.Freeze(cmd == "freeze");
    return "ok " + cmd;
  }
  if (cmd == "set" && args == 2) {
    if (!text::ReadInteger(words[1], 0, kMemorySize - 2, a))
      return "error: address out of range: " + words[1];
    if (!text::ReadInteger(words[2], -32768, 65535, b)) return "error: value out of range: " + words[2];
    meter.SetWord(static_cast<uint16_t>(a), static_cast<uint16_t>(b));
    return "ok set " + std::to_string(a) + " " + std::to_string(static_cast<uint16_t>(b));
  }
  if (cmd == "measure" && args == 2) {
    if (!text::ReadInteger(words[1], 0, 40, a)) return "error: measurement word out of range: " + words[1];
    if (!text::ReadInteger(words[2], -32768, 65535, b)) return "error: value out of range: " + words[2];
    meter.SetMeasurementWord(static_cast<int>(a), static_cast<uint16_t>(b));
    return "ok measure " + std::to_string(a) + " " + std::to_string(static_cast<uint16_t>(b));
  }
  if (cmd == "get" && args == 1) {
    if (!text::ReadInteger(words[1], 0, kMemorySize - 2, a))
      return "error: address out of range: " + words[1];
    return "ok " + std::to_string(meter.Word(static_cast<uint16_t>(a)));
  }
  if (cmd == "energy" && args == 0) {
    std::string out = "ok";
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on " " + std::to_string(...).
    for (int c = 0; c < 4; ++c) {
      out += ' ';
      out += std::to_string(meter.Energy(c));
    }
    return out;
  }
  return "error: unknown command '" + line +
         "' (fault KIND[:N], clear, freeze, unfreeze, set ADDR VALUE, "
         "measure N VALUE, get ADDR, energy, quit; on the simulator's line: echo on|off, "
         "junk-at-open N, other-master MS, min-gap MS)";
}

}  // namespace qm::sim
