#pragma once
#include <cstdint>

#include "framework/dialog.h"

// The port settings dialog, template 130: the PC's serial port number, baud rate and parity.
class CCommSetDlg : public fw::CDialog {
  Q_OBJECT

 public:
  explicit CCommSetDlg(QWidget* parent = nullptr);
  ~CCommSetDlg() override;

  int32_t m_nParity = 0;  // 0 none, 1 odd, 2 even
  int32_t m_nBaud = 9600;
  int32_t m_nPort = 0;

  void DoDataExchange(fw::CDataExchange* pDX) override;
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  // Every radio button is a group of its own, so these keep each range exclusive.
  void SelectBaud(int id);
  void SelectParity(int id);
  void On1200() { SelectBaud(1009); }
  void On2400() { SelectBaud(1010); }
  void On4800() { SelectBaud(1011); }
  void On9600() { SelectBaud(1012); }
  void On19200() { SelectBaud(1013); }
  void OnParityNone() { SelectParity(1014); }
  void OnParityOdd() { SelectParity(1015); }
  void OnParityEven() { SelectParity(1016); }
};
