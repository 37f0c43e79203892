// The receive path: whatever bytes the line delivers, and whatever count the port claims is waiting,
// go through one exchange (drop, send, wait, count, copy, search) and, when a reply is found, through
// the decoder that reads it: identification title, settings block, analog readout, measurement texts.
//
// Input: a 14-byte header, then the delivered bytes.
//   0     bits 0-2: the expected reply (modulo 5): identification (9 bytes), settings block (57),
//         analog value (7), measurement block (87), write echo (8); bit 7: plant a frame with a valid
//         CRC at the offset in byte 4, so that decoders see arbitrary data in a reply that is found
//   1     slave address
//   2-3   the count the port claims (InBufferCount), signed, high byte first
//   4     offset of the planted frame
//   5     analog selection code; 6-7 the first analog value (or the value of the write)
//   8-9   PT ratio, 10-11 CT ratio, 12 power scale selector, 13 energy decade
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/exchange.h"
#include "meter/analog.h"
#include "meter/codes.h"
#include "meter/registers.h"
#include "poll/analog_readout.h"
#include "poll/identification.h"
#include "poll/measurements.h"
#include "poll/settings_block.h"
#include "ui/measurement_boxes.h"

namespace {

constexpr size_t kHeader = 14;
constexpr uint8_t kUntouched = 0xA5;  // what the receive buffer holds beyond the copied bytes

// The port: delivers the fuzzed bytes on the read after the wait and claims the fuzzed count.
class FuzzDevice : public qm::link::Transport {
 public:
  FuzzDevice(std::vector<uint8_t> delivered, int claimed)
      : delivered_(std::move(delivered)), claimed_(claimed) {}
  void Open(const std::string&, const qm::link::LineSettings&) override { open_ = true; }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  void Apply(const qm::link::LineSettings&) override {}
  void Write(const std::vector<uint8_t>& bytes) override { written_.push_back(bytes); }
  int BytesWaiting() override { return sent() ? claimed_ : 0; }
  std::vector<uint8_t> ReadAll() override {
    return sent() ? std::exchange(delivered_, {}) : std::vector<uint8_t>{};
  }
  void DiscardInput() override {}
  void WaitForInput(uint32_t) override {}
  const std::vector<std::vector<uint8_t>>& Written() const { return written_; }

 private:
  bool sent() const { return !written_.empty(); }
  std::vector<uint8_t> delivered_;
  int claimed_;
  bool open_ = false;
  std::vector<std::vector<uint8_t>> written_;
};

class NoWait : public qm::link::Clock {
 public:
  void Sleep(uint32_t ms) override { now_ += ms; }
  uint64_t NowMs() const override { return now_; }

 private:
  uint64_t now_ = 0;
};

// A printed number at the start of `s`: an optional minus, digits, and exactly `decimals` digits
// after a point (no point when 0). Returns the characters taken, 0 when `s` does not start so.
size_t Number(std::string_view s, int decimals, bool allowMinus, double& value) {
  size_t i = 0;
  if (allowMinus && i < s.size() && s[i] == '-') ++i;
  const size_t digitsFrom = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  if (i == digitsFrom) return 0;
  if (decimals > 0) {
    if (i >= s.size() || s[i] != '.') return 0;
    ++i;
    for (int d = 0; d < decimals; ++d, ++i)
      if (i >= s.size() || s[i] < '0' || s[i] > '9') return 0;
  }
  value = std::strtod(std::string(s.substr(0, i)).c_str(), nullptr);
  return i;
}

struct UnitStep {
  const char* unit;  // after one blank; nullptr for a bare number
  int decimals;
};

// A measurement text: one of the kind's unit steps, and a number in the range that step implies
// (the base unit up to 1000, a prefixed one from 1, and up to 1000 where a larger prefix follows).
void CheckQuantity(const std::string& text, std::initializer_list<UnitStep> steps, bool signedValue,
                   bool literalMinus, double baseMax) {
  std::string_view s = text;
  if (literalMinus) {
    FUZZ_CHECK(!s.empty() && s[0] == '-', "export energy without its minus: '%s'", text.c_str());
    s.remove_prefix(1);
  }
  size_t stepIndex = 0;
  for (const UnitStep& step : steps) {
    double value = 0;
    const size_t n = Number(s, step.decimals, signedValue, value);
    const std::string tail = step.unit ? std::string(" ") + step.unit : std::string();
    if (n > 0 && s.substr(n) == tail) {
      const double magnitude = std::fabs(value);
      if (stepIndex == 0) FUZZ_CHECK(magnitude <= baseMax, "'%s' should use a larger unit", text.c_str());
      if (stepIndex > 0) FUZZ_CHECK(magnitude >= 1.0, "'%s' should use a smaller unit", text.c_str());
      if (stepIndex + 1 < steps.size() && stepIndex > 0)
        FUZZ_CHECK(magnitude <= 1000.0, "'%s' should use a larger unit", text.c_str());
      return;
    }
    ++stepIndex;
  }
  FUZZ_CHECK(false, "malformed measurement text '%s'", text.c_str());
}

void CheckMeasurementText(int box, const std::string& t) {
  if ((box >= 1000 && box <= 1003) || (box >= 1025 && box <= 1028)) {
    CheckQuantity(t, {{"V", 2}, {"KV", 2}}, false, false, 1000);
  } else if (box >= 1029 && box <= 1032) {
    CheckQuantity(t, {{"A", 3}, {"KA", 3}}, false, false, 1000);
  } else if (box == 1049) {
    CheckQuantity(t, {{"Hz", 3}}, false, false, 70.0);  // 65535 counts are just under 70 Hz
  } else if (box >= 1033 && box <= 1036) {
    CheckQuantity(t, {{"W", 1}, {"KW", 3}, {"MW", 3}}, true, false, 1000);
  } else if (box >= 1037 && box <= 1040) {
    CheckQuantity(t, {{"Var", 1}, {"KVar", 3}, {"MVar", 3}}, true, false, 1000);
  } else if (box >= 1041 && box <= 1044) {
    CheckQuantity(t, {{"VA", 1}, {"KVA", 3}, {"MVA", 3}}, false, false, 1000);
  } else if (box >= 1045 && box <= 1048) {
    CheckQuantity(t, {{nullptr, 4}}, true, false, 3.2768);
  } else if (box == 1053 || box == 1054) {
    CheckQuantity(t, {{"Wh", 1}, {"KWh", 3}, {"MWh", 3}}, false, box == 1054, 1000);
  } else if (box == 1055 || box == 1056) {
    CheckQuantity(t, {{"Varh", 1}, {"KVarh", 3}, {"MVarh", 3}}, false, box == 1056, 1000);
  } else {
    FUZZ_CHECK(false, "text for unknown box %d", box);
  }
}

// Boxes in the order the display writes them: per group (A, B, C, combined) phase voltage, line
// voltage, current, [frequency for the combined group only], active power, power factor, reactive
// power, apparent power; then the four energy counters.
const std::vector<int> kBoxOrder = {1001, 1026, 1030, 1034, 1046, 1038, 1042, 1002, 1027, 1031, 1035,
                                    1047, 1039, 1043, 1003, 1028, 1032, 1036, 1048, 1040, 1044, 1000,
                                    1025, 1029, 1049, 1033, 1045, 1037, 1041, 1053, 1054, 1055, 1056};

void CheckIdentification(const uint8_t* d) {
  const uint16_t model = static_cast<uint16_t>(d[0] << 8 | d[1]);
  const uint16_t version = static_cast<uint16_t>(d[2] << 8 | d[3]);
  const std::string digits = std::to_string(version);
  const auto piece = [&](size_t at, size_t n) {
    return at < digits.size() ? digits.substr(at, n) : std::string();
  };
  const std::string want = "VM" + std::to_string(model) + "智能电力监测仪------Velmora(" + piece(0, 1) + "." +
                           piece(1, 1) + "." + piece(2, 2) + "版)";
  const std::string title = qm::poll::IdentificationTitle(model, version);
  FUZZ_CHECK(title == want, "title '%s', expected '%s'", title.c_str(), want.c_str());
}

void CheckSettings(const uint8_t* d, uint32_t goodCount) {
  const auto block = std::span<const uint8_t, qm::meter::kSettingsBytes>(d, qm::meter::kSettingsBytes);
  const int32_t previous = 100;
  const qm::poll::SettingsValues v = qm::poll::ParseSettings(block, previous);
  FUZZ_CHECK(v.slaveAddress == d[1] && v.wiring == d[3] && v.accuracy == d[35] && v.analogSelection == d[49]);
  FUZZ_CHECK(v.pt == static_cast<uint32_t>(d[14] << 8 | d[15]) &&
             v.ct == static_cast<uint32_t>(d[18] << 8 | d[19]));
  FUZZ_CHECK(v.powerScale == (d[11] == 1 ? 4 : 1));
  const int32_t decades[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
  FUZZ_CHECK(v.energyMultiplier == (d[13] <= 6 ? decades[d[13]] : previous), "decade %d gave %d", d[13],
             v.energyMultiplier);

  const std::string count = qm::poll::SettingsCountText(goodCount, v.powerDirection);
  const std::string wantCount = std::to_string(goodCount) + "," + std::to_string(d[39]);
  FUZZ_CHECK(count == wantCount, "'%s'", count.c_str());
  const std::string diag = qm::poll::SettingsDiagnosticText(v);
  const std::string wantDiag = std::to_string(v.pt) + "," + std::to_string(d[3]) + "," +
                               std::to_string(d[49]) + "," + std::to_string(d[35]) + "," +
                               std::to_string(d[11]);
  FUZZ_CHECK(diag == wantDiag, "'%s'", diag.c_str());
  const std::string caption = qm::meter::AccuracyCaption(v.accuracy);
  FUZZ_CHECK(caption == (d[35] == 0 ? "0.5级" : d[35] == 1 ? "0.2级" : ""), "'%s'", caption.c_str());

  const qm::meter::AnalogReadPair pair = qm::meter::AnalogReadAddresses(v.analogSelection);
  FUZZ_CHECK((pair.first >> 8) == 0x03 && (pair.second >> 8) == 0x03, "code %d reads outside the 0x03xx page",
             v.analogSelection);
}

void CheckAnalogReadout(uint8_t code, uint8_t firstHi, uint8_t firstLo, const uint8_t* d, uint32_t pt,
                        uint32_t ct) {
  const std::string text = qm::poll::FormatAnalogReadout(code, firstHi, firstLo, d[0], d[1], pt, ct);
  const qm::poll::ReadoutRow row = qm::poll::MakeReadoutRow(code, text);
  if (code == 0 || code > 35) {
    FUZZ_CHECK(text.empty(), "code %d gave '%s'", code, text.c_str());
    FUZZ_CHECK(row.left.empty() && row.right.empty() && row.unit == 0);
    return;
  }
  // Per quantity of a group: decimals and unit item; power-like first values are signed.
  int decimals = 0, unit = 0;
  bool firstSigned = false;
  if (code <= 32) {
    static constexpr int kDecimals[8] = {0, 0, 3, 3, 0, 3, 0, 0};
    static constexpr int kUnit[8] = {1, 1, 2, 3, 4, 8, 5, 6};
    const int k = (code - 1) % 8;
    decimals = kDecimals[k];
    unit = kUnit[k];
    firstSigned = k >= 4;
  }
  std::string_view s = text;
  double a = 0, b = 0;
  const size_t na = Number(s, decimals, firstSigned, a);
  FUZZ_CHECK(na > 0 && na < s.size() && s[na] == ',', "code %d: '%s'", code, text.c_str());
  const std::string_view rest = s.substr(na + 1);
  const size_t nb = Number(rest, decimals, false, b);
  const std::string tail = "," + std::to_string(unit);
  FUZZ_CHECK(nb > 0 && rest.substr(nb) == tail, "code %d: '%s'", code, text.c_str());
  FUZZ_CHECK(row.left == (code == 35 ? std::string("  / ") : std::string(s.substr(0, na))));
  FUZZ_CHECK(row.right == std::string(rest.substr(0, nb)) && row.unit == unit, "code %d: '%s'", code,
             text.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  struct Expected {
    uint8_t function;
    uint16_t reg;
    uint16_t quantity;
  };
  static constexpr Expected kReplies[5] = {
      {0x03, 0x03E0, 2}, {0x03, 0x0300, 26}, {0x03, 0x03A0, 1}, {0x03, 0x0000, 41}, {0x06, 0x0308, 0}};
  const int kind = (data[0] & 7) % 5;
  const bool plant = (data[0] & 0x80) != 0;
  const uint8_t address = data[1];
  const int16_t claimed = static_cast<int16_t>(data[2] << 8 | data[3]);
  const size_t offset = data[4];
  const uint8_t code = data[5];
  const uint16_t word = kind == 4 ? static_cast<uint16_t>(data[6] << 8 | data[7]) : kReplies[kind].quantity;
  const uint32_t pt = static_cast<uint32_t>(data[8] << 8 | data[9]);
  const uint32_t ct = static_cast<uint32_t>(data[10] << 8 | data[11]);
  const uint8_t function = kReplies[kind].function;
  const size_t length = function == 0x03 ? 5 + 2 * static_cast<size_t>(word) : 8;

  std::vector<uint8_t> delivered(data + kHeader, data + size);

  // The analog row is split from its text at the commas, whatever the text holds.
  const std::string anyText(delivered.begin(), delivered.end());
  const qm::poll::ReadoutRow anyRow = qm::poll::MakeReadoutRow(code, anyText);
  const size_t comma = anyText.find(',');
  if (code == 35) FUZZ_CHECK(anyRow.left == "  / ");
  if (comma == std::string::npos) {
    FUZZ_CHECK(anyRow.right.empty() && (code == 35 || anyRow.left.empty()));
  } else {
    FUZZ_CHECK(code == 35 || anyRow.left == anyText.substr(0, comma));
    FUZZ_CHECK(anyText.compare(comma + 1, anyRow.right.size(), anyRow.right) == 0);
    FUZZ_CHECK(anyRow.right.find(',') == std::string::npos);
  }
  if (plant && offset + length <= delivered.size()) {
    delivered[offset] = address;
    delivered[offset + 1] = function;
    fuzz::PutCrc(delivered.data() + offset, length);
  }

  // The exchange, as every step of the poll cycle and every checked write makes it.
  FuzzDevice device(delivered, claimed);
  device.Open("/dev/fuzz", {});
  NoWait clock;
  qm::link::RequestFrame request{};
  qm::link::ReceiveBuffer rx;
  rx.fill(kUntouched);
  const qm::link::WindowBuffers buffers{request, rx};
  const qm::link::ExchangeResult r =
      qm::link::Exchange(device, clock, {address, function, kReplies[kind].reg, word},
                         qm::link::Timing::Fixed(200, qm::link::ReplyMode::Check), &buffers);

  // Exactly the request went out, with its CRC.
  FUZZ_CHECK(device.Written().size() == 1 && device.Written()[0].size() == 8);
  const std::vector<uint8_t>& sent = device.Written()[0];
  FUZZ_CHECK(sent[0] == address && sent[1] == function && fuzz::CrcOk(sent.data(), 8));
  FUZZ_CHECK((sent[2] << 8 | sent[3]) == kReplies[kind].reg && (sent[4] << 8 | sent[5]) == word);

  // The copy: the first bytes delivered, never more than claimed, delivered or the buffer holds.
  const size_t copied =
      std::min({static_cast<size_t>(std::max<int>(claimed, 0)), delivered.size(), rx.size()});
  FUZZ_CHECK(r.received >= 0 && static_cast<size_t>(r.received) == copied, "copied %d, expected %zu",
             r.received, copied);
  FUZZ_CHECK(
      std::equal(delivered.begin(), delivered.begin() + static_cast<std::ptrdiff_t>(copied), rx.begin()));
  FUZZ_CHECK(std::all_of(rx.begin() + static_cast<std::ptrdiff_t>(copied), rx.end(),
                         [](uint8_t b) { return b == kUntouched; }),
             "bytes beyond the copy were touched");
  // The same copy asked directly with the raw count, negative counts included.
  qm::link::ReceiveBuffer direct{};
  const size_t directWant =
      std::min({static_cast<size_t>(std::max<int>(claimed, 0)), delivered.size(), direct.size()});
  FUZZ_CHECK(static_cast<size_t>(qm::link::CopyReceived(delivered, claimed, direct)) == directWant);

  // The search: the first position inside the copied bytes where a whole frame starts with the
  // address and the function and ends with its CRC.
  int want = -1;
  for (size_t i = 0; want < 0 && i + length <= copied; ++i)
    if (rx[i] == address && rx[i + 1] == function && fuzz::CrcOk(rx.data() + i, length))
      want = static_cast<int>(i);
  FUZZ_CHECK(r.index == want, "found at %d, the first valid frame is at %d", r.index, want);
  if (plant && offset + length <= copied) FUZZ_CHECK(r.index >= 0 && static_cast<size_t>(r.index) <= offset);
  if (r.index < 0) {
    FUZZ_CHECK(!r.Ok() && r.Data().empty());
    return 0;
  }
  FUZZ_CHECK(static_cast<size_t>(r.index) + length <= copied, "reply beyond the copied bytes");
  // The reply's data: after address, function and (for a read) the byte count, up to the CRC.
  const size_t dataAt = static_cast<size_t>(r.index) + (function == 0x03 ? 3 : 2);
  const size_t dataSize = length - (dataAt - static_cast<size_t>(r.index)) - 2;
  FUZZ_CHECK(
      r.Ok() && r.Data().size() == dataSize &&
          std::equal(r.Data().begin(), r.Data().end(), rx.begin() + static_cast<std::ptrdiff_t>(dataAt)),
      "data of %zu bytes, not those at %zu", r.Data().size(), dataAt);

  const uint8_t* reply = rx.data() + r.index + 3;
  switch (kind) {
    case 0:
      CheckIdentification(reply);
      break;
    case 1:
      CheckSettings(reply, static_cast<uint32_t>(data[6] << 24 | data[7] << 16 | data[8] << 8 | data[9]));
      break;
    case 2:
      CheckAnalogReadout(code, data[6], data[7], reply, pt, ct);
      break;
    case 3: {
      qm::poll::Scaling scaling;
      scaling.pt = pt;
      scaling.ct = ct;
      scaling.powerScale = data[12] == 1 ? 4 : 1;
      scaling.energyMultiplier = qm::meter::EnergyMultiplier(data[13], 1);
      const auto texts = qm::ui::FormatMeasurements(
          std::span<const uint8_t, qm::meter::kMeasurementBytes>(reply, qm::meter::kMeasurementBytes),
          scaling);
      FUZZ_CHECK(texts.size() == kBoxOrder.size());
      for (size_t i = 0; i < texts.size(); ++i) {
        FUZZ_CHECK(texts[i].boxId == kBoxOrder[i], "box %d in place %zu", texts[i].boxId, i);
        CheckMeasurementText(texts[i].boxId, texts[i].text);
      }
      break;
    }
    default:
      break;
  }
  return 0;
}
