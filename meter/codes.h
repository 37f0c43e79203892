#pragma once
#include <array>
#include <cstdint>
#include <string>

// The meter's setting codes and the captions the program shows for them (UTF-8).
namespace qm::meter {

// Baud codes 0..4: 1200, 2400, 4800, 9600 and 19200 baud.
inline constexpr std::array<int32_t, 5> kBaudRates{1200, 2400, 4800, 9600, 19200};
// The code of `baud`, or -1 for a rate the meter does not have; the rate of `code`, or 0.
int BaudCode(int32_t baud);
int32_t BaudForCode(int code);

// Wiring codes 0..5, captioned in code order.
inline constexpr std::array<const char*, 6> kWiringCaptions{"3相4线(非平衡)", "单相2线", "3相3线(非平衡)",
                                                            "3相3线(平衡)",   "单相3线", "3相4线(平衡)"};
inline constexpr int kWiringCodeCount = static_cast<int>(kWiringCaptions.size());
// The caption of `code`, or empty for a code past the list.
std::string WiringCaption(int code);

// PT and CT ratios the meter accepts.
inline constexpr uint32_t kRatioMin = 1;
inline constexpr uint32_t kRatioMax = 64000;

// Accuracy codes: 0 class 0.5, 1 class 0.2.
inline constexpr uint8_t kAccuracy05 = 0;
inline constexpr uint8_t kAccuracy02 = 1;
// "0.5级", "0.2级", or empty for any other code.
std::string AccuracyCaption(uint8_t code);
// The code after a toggle: class 0.5 becomes class 0.2, anything else class 0.5.
constexpr uint8_t ToggledAccuracy(uint8_t code) { return code == kAccuracy05 ? kAccuracy02 : kAccuracy05; }

// Power direction flag: 0 normal, 1 reversed. The reversal writes reversed for normal and normal for
// anything else.
inline constexpr int32_t kDirectionNormal = 0;
inline constexpr int32_t kDirectionReversed = 1;
constexpr uint16_t ReversedPowerDirection(int32_t flag) {
  return flag == kDirectionNormal ? kDirectionReversed : kDirectionNormal;
}

// Energy multiplier of decade n: 1 .. 1000000 for 0 .. 6. A decade past the table keeps
// `previous`, so a corrupt or newer setting never reads past the table's seven entries.
int32_t EnergyMultiplier(uint8_t decade, int32_t previous);

}  // namespace qm::meter
