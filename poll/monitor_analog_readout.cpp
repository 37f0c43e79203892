#include "ui/monitor_dlg.h"

// Placeholder until this subsystem lands.
QString CMonitorDlg::FormatAnalogSetting(uint8_t, uint8_t, uint8_t, uint8_t, uint8_t) { return {}; }
