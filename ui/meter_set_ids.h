#pragma once

// Control ids of the meter settings dialog, template 131.
namespace qm::ui::meter_set_ids {

inline constexpr int kTemplate = 131;
inline constexpr int kPtRatio = 1000;
inline constexpr int kCtRatio = 1001;
// Wiring radio buttons: wiring code n is kFirstWiring + n.
inline constexpr int kFirstWiring = 1009;
inline constexpr int kLastWiring = 1014;

}  // namespace qm::ui::meter_set_ids
