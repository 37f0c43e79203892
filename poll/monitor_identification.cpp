// Model and version of the meter, once per start, into the window title.
#include "meter/registers.h"
#include "poll/identification.h"
#include "ui/monitor_dlg.h"

void CMonitorDlg::Identify() {
  const qm::link::ExchangeResult r =
      Exchange(m_bySlaveAddr, qm::link::kFnReadHolding, qm::meter::kIdentificationAddress,
               qm::meter::kIdentificationWords, m_nShortWait, qm::link::ReplyMode::Check);
  if (!r.Ok()) return;  // the template's title stays
  const qm::poll::Identification id = qm::poll::ParseIdentification(r.Data());
  SetWindowText(QString::fromStdString(qm::poll::IdentificationTitle(id.model, id.version)));
}
