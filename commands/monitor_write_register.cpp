// The configuration commands' single-register write (function 0x06) to the current slave address.
#include "ui/monitor_dlg.h"

qm::ExchangeResult CMonitorDlg::WriteRegister(uint16_t reg, uint16_t value, uint32_t waitMs,
                                              qm::ReplyMode mode) {
  return Exchange(m_bySlaveAddr, qm::kFnWriteSingle, reg, value, waitMs, mode);
}

bool CMonitorDlg::WriteSingleRegister(uint16_t reg, uint16_t value, uint32_t waitMs, qm::ReplyMode mode) {
  const qm::ExchangeResult result = WriteRegister(reg, value, waitMs, mode);
  return mode == qm::ReplyMode::Check && result.index >= 0;
}
