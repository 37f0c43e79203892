// The main window's framing operations: thin members over the link functions, on the window's own
// port, clock and buffers.
#include "link/crc16.h"
#include "link/find_response.h"
#include "ui/monitor_dlg.h"

uint16_t CMonitorDlg::CalcCrc16(const uint8_t* data, int16_t length) {
  return qm::link::CalcCrc16(data, length);
}

int16_t CMonitorDlg::FindResponse(const uint8_t* buffer, int16_t length, uint8_t function, uint8_t address,
                                  int16_t frameLength) {
  return qm::link::FindResponse(buffer, length, function, address, frameLength);
}

void CMonitorDlg::SendFrame(const uint8_t* data, int16_t length) {
  qm::link::SendFrame(m_comm, data, length);
}

qm::link::ExchangeResult CMonitorDlg::Exchange(uint8_t address, uint8_t function, uint16_t reg, uint16_t word,
                                               uint32_t waitMs, qm::link::ReplyMode mode) {
  return qm::link::Exchange({m_comm, m_clock, m_frame, m_rx}, address, function, reg, word, waitMs, mode);
}

void CMonitorDlg::SetTimingFromBaud() {
  const qm::link::TimingSet t = qm::link::TimingForBaud(m_nBaud);
  m_nPollInterval = t.pollInterval;
  m_nShortWait = t.shortWait;
  m_nLongWait = t.longWait;
}
