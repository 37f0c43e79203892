#pragma once
#include <cstdint>

#include "framework/dialog.h"

// The slave address dialog (template 146). The caller sets the current address and reads the new
// one after OK; the framework's OK refuses anything but 0..255.
class CSlaveAddrDlg : public fw::CDialog {
 public:
  explicit CSlaveAddrDlg(QWidget* parent = nullptr);
  ~CSlaveAddrDlg() override;

  uint8_t m_byAddress = 0;

  void DoDataExchange(fw::CDataExchange* pDX) override;
};
