#pragma once

// Control ids of the main window, template 102, as its resource header would name them.
namespace qm::ui::monitor_ids {

inline constexpr int kTemplate = 102;

// Commands.
inline constexpr int kCommSet = 1004;
inline constexpr int kMeterSet = 1006;
inline constexpr int kChangeSlaveAddr = 1007;
inline constexpr int kAccuracy = 1009;  // hidden; its caption names the accuracy class
inline constexpr int kPowerReverse = 1010;
inline constexpr int kWriteAnalog = 1059;
inline constexpr int kInputMode = 1060;
inline constexpr int kPollAddress = 1062;
inline constexpr int kRunStop = 1063;
inline constexpr int kLimitSet = 1070;  // hidden, no handler
inline constexpr int kEnergyReset = 1071;
inline constexpr int kRefreshUrg = 1091;   // hidden, no handler
inline constexpr int kFactoryInit = 1092;  // hidden

// The serial port control: no window, CMonitorDlg::m_comm carries it.
inline constexpr int kComm = 1008;

// Link status, slave address and the hidden diagnostics of the poll cycle.
inline constexpr int kStatus = 1057;
inline constexpr int kSlaveAddr = 1061;
inline constexpr int kSettingsCount = 1079;
inline constexpr int kDiagnostic = 1021;

// The analog output row.
inline constexpr int kAnalogSel = 1088;
inline constexpr int kLeftValue = 1022;
inline constexpr int kRightValue = 1023;
inline constexpr int kUnit = 1113;

// Hidden limit edits, bound to members that nothing else uses.
inline constexpr int kVoltHigh = 1066;
inline constexpr int kVoltLow = 1067;
inline constexpr int kCurrHigh = 1068;
inline constexpr int kCurrLow = 1069;

// Hidden edits without a function.
inline constexpr int kUnused1050 = 1050;
inline constexpr int kUnused1064 = 1064;
inline constexpr int kUnused1078 = 1078;
inline constexpr int kUnused1080 = 1080;
inline constexpr int kUnusedRow[] = {1065, 1072, 1073, 1074, 1075, 1076, 1077};

// Measurement boxes: rows of the grid by column (合相, A相/CA线, B相/AB线, C相/BC线).
inline constexpr int kPhaseVoltage[] = {1000, 1001, 1002, 1003};
inline constexpr int kLineVoltage[] = {1025, 1026, 1027, 1028};
inline constexpr int kCurrent[] = {1029, 1030, 1031, 1032};
inline constexpr int kActivePower[] = {1033, 1034, 1035, 1036};
inline constexpr int kReactivePower[] = {1037, 1038, 1039, 1040};
inline constexpr int kApparentPower[] = {1041, 1042, 1043, 1044};
inline constexpr int kPowerFactor[] = {1045, 1046, 1047, 1048};
inline constexpr int kSum = 0, kColumnA = 1, kColumnB = 2, kColumnC = 3;
inline constexpr int kFrequency = 1049;
inline constexpr int kImportActiveEnergy = 1053;
inline constexpr int kExportActiveEnergy = 1054;
inline constexpr int kImportReactiveEnergy = 1055;
inline constexpr int kExportReactiveEnergy = 1056;

}  // namespace qm::ui::monitor_ids
