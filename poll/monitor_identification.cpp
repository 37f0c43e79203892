// Model and version of the meter, once per start, into the window title.
#include "meter/registers.h"
#include "poll/identification.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::Identify() {
  const qm::link::ExchangeResult r =
      Exchange(m_bySlaveAddr, qm::link::kFnReadHolding, qm::meter::kIdentificationAddress,
               qm::meter::kIdentificationWords, m_nShortWait, qm::link::ReplyMode::Check);
  if (!r.data) return;  // the template's title stays
  const std::span<const uint8_t> d = *r.data;
  const uint16_t model = static_cast<uint16_t>(d[0] << 8 | d[1]);
  const uint16_t version = static_cast<uint16_t>(d[2] << 8 | d[3]);
  SetWindowText(QString::fromStdString(qm::poll::IdentificationTitle(model, version)));
}
