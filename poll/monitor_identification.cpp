// Model and version of the meter, once per start, into the window title.
#include "poll/identification.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::Identify() {
  namespace poll = qm::poll;
  const qm::ExchangeResult r = Exchange(m_bySlaveAddr, qm::kFnReadHolding, poll::kIdentificationAddress,
                                        poll::kIdentificationQuantity, m_nShortWait, qm::ReplyMode::Check);
  if (r.index < 0 || r.index + 3 + poll::kIdentificationBytes > qm::kReceiveSize) return;  // the template's title stays
  const poll::Identification id = poll::ParseIdentification(
      std::span<const uint8_t, poll::kIdentificationBytes>(m_rx.data() + r.index + 3, poll::kIdentificationBytes));
  SetWindowText(QString::fromStdString(poll::IdentificationTitle(id.model, id.version)));
}
