#pragma once
#include <QString>
#include <cstdint>

#include "framework/fw.h"

namespace qm::framework {

class CDialog;
class CWnd;

// One run of a dialog's data exchange. A failed conversion or range check shows the layer's
// message naming the allowed range, puts the focus on the control and stops the exchange.
class CDataExchange {
 public:
  CDataExchange(CDialog* dlg, bool save) : m_pDlgWnd(dlg), m_bSaveAndValidate(save) {}
  CDialog* m_pDlgWnd;
  bool m_bSaveAndValidate;
  int m_idLastControl = 0;
  [[noreturn]] void Fail(const QString& message);  // shows, focuses, throws DataExchangeFailed
};

struct DataExchangeFailed {};

void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Text(CDataExchange* pDX, int id, uint8_t& value);  // 0..255
void DDX_Text(CDataExchange* pDX, int id, int32_t& value);
void DDX_Text(CDataExchange* pDX, int id, uint32_t& value);
void DDX_Text(CDataExchange* pDX, int id, double& value);
void DDX_Text(CDataExchange* pDX, int id, QString& value);
void DDX_CBString(CDataExchange* pDX, int id, QString& value);  // text of the combo's edit field
void DDV_MinMaxByte(CDataExchange* pDX, uint8_t value, uint8_t min, uint8_t max);
void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t min, uint32_t max);
void DDV_MinMaxInt(CDataExchange* pDX, int32_t value, int32_t min, int32_t max);

}  // namespace qm::framework
