// Model and version of the meter, once per start, into the window title.
#include "poll/identification.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::Identify() {
  constexpr uint16_t kIdentificationAddress = 0x03E0;
  const qm::ExchangeResult r = Exchange(m_bySlaveAddr, qm::kFnReadHolding, kIdentificationAddress, 2,
                                        m_nShortWait, qm::ReplyMode::Check);
  if (r.index < 0 || r.index + 7 > qm::kReceiveSize) return;  // the template's title stays
  const auto at = [this, &r](int k) { return m_rx[static_cast<size_t>(r.index + k)]; };
  const uint16_t model = static_cast<uint16_t>(at(3) << 8 | at(4));
  const uint16_t version = static_cast<uint16_t>(at(5) << 8 | at(6));
  SetWindowText(QString::fromStdString(qm::poll::IdentificationTitle(model, version)));
}
