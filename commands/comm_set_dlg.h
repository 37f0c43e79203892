#pragma once
#include <cstdint>

#include "framework/dialog.h"
#include "link/link_settings.h"
#include "ui/comm_set_ids.h"

// The port settings dialog, template 130: the PC's serial port number, baud rate and parity.
class CCommSetDlg : public fw::CDialog {
  Q_OBJECT

 public:
  explicit CCommSetDlg(QWidget* parent = nullptr);
  ~CCommSetDlg() override;

  qm::link::Parity m_nParity = qm::link::Parity::None;
  int32_t m_nBaud = 9600;
  int32_t m_nPort = 0;

  // The three members as one value: set before DoModal, read after OK.
  qm::link::LinkSettings GetLinkSettings() const { return {m_nParity, m_nBaud, m_nPort}; }
  void SetLinkSettings(const qm::link::LinkSettings& link);

  void DoDataExchange(fw::CDataExchange* pDX) override;
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  // Every radio button is a group of its own, so these keep each range exclusive.
  void SelectBaud(int id);
  void SelectParity(int id);
  void On1200() { SelectBaud(qm::ui::comm_set_ids::kBaud1200); }
  void On2400() { SelectBaud(qm::ui::comm_set_ids::kBaud2400); }
  void On4800() { SelectBaud(qm::ui::comm_set_ids::kBaud4800); }
  void On9600() { SelectBaud(qm::ui::comm_set_ids::kBaud9600); }
  void On19200() { SelectBaud(qm::ui::comm_set_ids::kBaud19200); }
  void OnParityNone() { SelectParity(qm::ui::comm_set_ids::kParityNone); }
  void OnParityOdd() { SelectParity(qm::ui::comm_set_ids::kParityOdd); }
  void OnParityEven() { SelectParity(qm::ui::comm_set_ids::kParityEven); }
};
