// The analog output row: selection list 1088, left and right values 1022/1023, unit list 1113.
// "输入" stops the poll and opens the row for editing; "写入" converts and writes it back.
#include "commands/analog_input.h"
#include "meter/analog.h"
#include "ui/monitor_dlg.h"

namespace commands = qm::commands;

void CMonitorDlg::OnInputMode() {
  KillTimer(kPollTimer);
  m_cbAnalogSel.ShowWindow(true);
  m_cbAnalogSel.ShowDropDown(true);
  m_cbUnit.EnableWindow(true);
  m_edLeft.SetReadOnly(false);
  m_edRight.SetReadOnly(false);
  m_byInputMode = 1;
}

void CMonitorDlg::OnDropdownAnalogSel() { KillTimer(kPollTimer); }

void CMonitorDlg::OnSelchangeAnalogSel() {
  const int code = m_cbAnalogSel.GetCurSel();
  if (code == qm::meter::kAnalogFixedValue) m_edLeft.SetReadOnly(true);  // the fixed value has no left value
  if (m_byInputMode) return;  // the later "写入" sends the selection first
  if (const auto w = commands::AnalogSelectionWrite(code))
    WriteSingleRegister(w->reg, w->value, commands::kAnalogWriteWaitMs, w->mode);
  SetTimer(kPollTimer, m_nPollInterval);
}

void CMonitorDlg::OnWriteAnalog() {
  // A failed exchange (say an invalid slave address in 1061) has shown its message and stopped before
  // the two value texts: writing now would send stale values, so nothing is sent and the row stays
  // as it is for the user to correct.
  if (!UpdateData(true)) return;

  const int code = m_cbAnalogSel.GetCurSel();
  const commands::AnalogWrite plan =
      commands::PlanAnalogWrite(code, m_strLeft.toStdString(), m_strRight.toStdString(), m_nPT, m_nCT);
  if (plan.outcome == commands::AnalogWriteOutcome::OutOfRange) {
    // Cut to 16 bits the value would set the meter to something else entirely: nothing is sent and
    // the row stays open for correction.
    fw::AfxMessageBox(QStringLiteral("输入数值超出范围"));
    return;
  }
  // With no list item selected (text typed into 1088) there is no code to write: nothing is sent,
  // but the row closes and polling resumes as after any "写入".
  for (const commands::RegisterWrite& w : plan.writes)
    WriteSingleRegister(w.reg, w.value, commands::kAnalogWriteWaitMs, w.mode);

  m_byInputMode = 0;
  m_cbUnit.EnableWindow(false);
  m_cbAnalogSel.ShowDropDown(false);
  m_edLeft.SetReadOnly(true);
  m_edRight.SetReadOnly(true);
  SetTimer(kPollTimer, m_nPollInterval);
}
