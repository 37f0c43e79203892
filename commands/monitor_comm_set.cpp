// The port settings command: port settings, and the meter's baud rate when the user picks another
// one.
#include "commands/comm_set_dlg.h"
#include "commands/discard_input.h"
#include "commands/meter_writes.h"
#include "meter/codes.h"
#include "ui/monitor_dlg.h"
#include "ui/status_text.h"

void CMonitorDlg::OnCommSet() {
  KillTimer(kPollTimer);

  CCommSetDlg dlg(this);
  dlg.SetLinkSettings(GetLinkSettings());

  if (dlg.DoModal() == fw::IDOK) {
    qm::link::LinkSettings chosen = dlg.GetLinkSettings();
    if (chosen.baud != m_nBaud) {
      // Sent, and answered, at the present line speed; the meter switches after its echo.
      const auto code = static_cast<uint16_t>(qm::meter::BaudCode(chosen.baud));
      if (WriteSingleRegister(qm::commands::kRegBaud, code, qm::commands::kBaudWriteWaitMs,
                              qm::link::ReplyMode::Check)) {
        m_nBaud = chosen.baud;
        fw::AfxMessageBox("改变波特率成功");
      } else {
        chosen.baud = m_nBaud;  // the meter keeps its rate, and so does the port
        fw::AfxMessageBox("改变波特率不成功");
      }
    }
    SetLinkSettings(chosen);

    // A refusal here ends the command: the framework reports it and polling stays stopped.
    m_comm.SetPortOpen(false);
    m_comm.SetCommPort(static_cast<int16_t>(m_nPort));
    m_comm.SetSettings(qm::link::SettingsString(m_nBaud, m_nParity));
    m_comm.SetPortOpen(true);

    SetStatusText(QString::fromStdString(qm::ui::CommSetStatusText(GetLinkSettings())));
  }

  qm::commands::DiscardWaitingInput(m_comm);
  SetTimingFromBaud();
  SetTimer(kPollTimer, m_nPollInterval);
}
