// Button 1004: port settings, and the meter's baud rate when the user picks another one.
#include "commands/comm_set_dlg.h"
#include "commands/meter_writes.h"
#include "link/link_settings.h"
#include "ui/monitor_dlg.h"

namespace {

constexpr uint32_t kBaudWriteWaitMs = 300;

}  // namespace

void CMonitorDlg::OnCommSet() {
  KillTimer(kPollTimer);

  CCommSetDlg dlg(this);
  dlg.m_nParity = m_nParity;
  dlg.m_nBaud = m_nBaud;
  dlg.m_nPort = m_nPort;

  if (dlg.DoModal() == fw::IDOK) {
    if (dlg.m_nBaud != m_nBaud) {
      // Sent, and answered, at the present line speed; the meter switches after its echo.
      const auto code = static_cast<uint16_t>(qm::BaudCode(dlg.m_nBaud));
      if (WriteSingleRegister(qm::kRegBaud, code, kBaudWriteWaitMs, qm::ReplyMode::Check)) {
        m_nBaud = dlg.m_nBaud;
        fw::AfxMessageBox("改变波特率成功");
      } else {
        fw::AfxMessageBox("改变波特率不成功");
      }
    }
    m_nPort = dlg.m_nPort;
    m_nParity = dlg.m_nParity;

    // A refusal here ends the command: the framework reports it and polling stays stopped.
    m_comm.SetPortOpen(false);
    m_comm.SetCommPort(static_cast<int16_t>(m_nPort));
    m_comm.SetSettings(qm::SettingsString(m_nBaud, m_nParity));
    m_comm.SetPortOpen(true);

    SetStatusText(QString::fromStdString(
        qm::StatusText("串行口:%d \r\n\r\n波特率: %d \r\n\r\n", m_nPort, m_nBaud, m_nParity)));
  }

  m_comm.GetInput();
  SetTimingFromBaud();
  SetTimer(kPollTimer, m_nPollInterval);
}
