#pragma once

// Control ids of the port settings dialog, template 130.
namespace qm::ui::comm_set_ids {

inline constexpr int kTemplate = 130;
inline constexpr int kPort = 1000;
// Baud radio buttons in the meter's baud code order (1200 .. 19200 baud), then the parity buttons in
// parity order (none, odd, even).
inline constexpr int kBaud1200 = 1009;
inline constexpr int kBaud2400 = 1010;
inline constexpr int kBaud4800 = 1011;
inline constexpr int kBaud9600 = 1012;
inline constexpr int kBaud19200 = 1013;
inline constexpr int kParityNone = 1014;
inline constexpr int kParityOdd = 1015;
inline constexpr int kParityEven = 1016;

}  // namespace qm::ui::comm_set_ids
