#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qm::poll {

// The measurement block: 41 words read at 0x0000.
constexpr uint16_t kMeasurementAddress = 0x0000;
constexpr uint16_t kMeasurementQuantity = 41;
constexpr int kMeasurementBytes = 2 * kMeasurementQuantity;

// What a shown quantity is; it fixes the raw type, the formula and the formats.
enum class Quantity {
  Voltage,
  Current,
  Frequency,
  ActivePower,
  PowerFactor,
  ReactivePower,
  ApparentPower,
  ImportActiveEnergy,
  ExportActiveEnergy,
  ImportReactiveEnergy,
  ExportReactiveEnergy,
};

// The scaling the poll cycle last took from the settings block.
struct Scaling {
  uint32_t pt = 1;
  uint32_t ct = 1;
  int32_t powerScale = 1;  // 4 or 1: active and reactive power only
  int32_t energyMultiplier = 1;
};

// One shown quantity: where it lies in the block, what it is and which box shows it.
struct MeasurementSlot {
  int word;  // first word; the energies take two, low word first
  Quantity quantity;
  int boxId;
};

// The 33 shown quantities in the order the boxes are written.
std::span<const MeasurementSlot> MeasurementSlots();

// Short name of a shown quantity: the analog selection list's item for words 0..31 ("Ua", "PF"),
// "EPimp", "EPexp", "EQimp", "EQexp" for the four energy counters.
std::string SlotName(const MeasurementSlot& slot);

// The SI unit of a quantity's engineering value ("V", "var", "Wh"); empty for the power factor.
const char* SiUnit(Quantity quantity);

struct MeasurementText {
  int boxId;
  std::string text;
  bool operator==(const MeasurementText&) const = default;
};

// Engineering value of a raw word (or, for the energies, the 32-bit count).
double EngineeringValue(Quantity quantity, int64_t raw, const Scaling& scaling);

// The text of one engineering value with its unit; the larger unit only when strictly greater than
// 1000 or 1000000 (for powers compared on the magnitude, printed with the sign).
std::string FormatQuantity(Quantity quantity, double value);

// One decoded quantity: its engineering value and the text its box shows.
struct Measurement {
  const MeasurementSlot* slot;
  double value;
  std::string text;
};

// The 33 shown quantities of one measurement block, in the order the boxes are written.
std::vector<Measurement> DecodeMeasurements(std::span<const uint8_t, kMeasurementBytes> data,
                                            const Scaling& scaling);

// The 33 box texts of one measurement block, in the order the boxes are written.
std::vector<MeasurementText> FormatMeasurements(std::span<const uint8_t, kMeasurementBytes> data,
                                                const Scaling& scaling);

// Box ids in write order.
const std::vector<int>& MeasurementBoxOrder();

}  // namespace qm::poll
