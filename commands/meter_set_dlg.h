#pragma once
#include <cstdint>

#include "framework/dialog.h"

// The meter settings dialog (template 131): PT ratio, CT ratio and wiring mode. The caller sets the
// three members before running it and reads them after OK.
class CMeterSetDlg : public fw::CDialog {
 public:
  explicit CMeterSetDlg(QWidget* parent = nullptr);
  ~CMeterSetDlg() override;

  uint8_t m_byWiring = 0;
  uint32_t m_nPT = 0;
  uint32_t m_nCT = 0;

  void DoDataExchange(fw::CDataExchange* pDX) override;
  bool OnInitDialog() override;
  void OnOK() override;

 private:
  void OnWiring(int code);
  void OnWiring0() { OnWiring(0); }
  void OnWiring1() { OnWiring(1); }
  void OnWiring2() { OnWiring(2); }
  void OnWiring3() { OnWiring(3); }
  void OnWiring4() { OnWiring(4); }
  void OnWiring5() { OnWiring(5); }
};
