// The analog output row's readout text.
#include "poll/analog_readout.h"
#include "ui/monitor_dlg.h"

QString CMonitorDlg::FormatAnalogSetting(uint8_t code, uint8_t firstHi, uint8_t firstLo, uint8_t secondHi,
                                         uint8_t secondLo) {
  return QString::fromStdString(
      qm::poll::FormatAnalogReadout(code, firstHi, firstLo, secondHi, secondLo, m_nPT, m_nCT));
}
