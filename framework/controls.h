#pragma once
#include <QString>

#include "framework/fw.h"

class QWidget;

namespace qm::framework {

// Thin control objects attached to a dialog's controls by DDX_Control.
class CWnd {
 public:
  void Attach(QWidget* widget) { widget_ = widget; }
  QWidget* Widget() const { return widget_; }
  void EnableWindow(bool enable);
  bool IsWindowEnabled() const;
  void ShowWindow(bool show);
  void SetWindowText(const QString& text);
  QString GetWindowText() const;

 protected:
  QWidget* widget_ = nullptr;
};

class CEdit : public CWnd {
 public:
  void SetReadOnly(bool readOnly);
  bool IsReadOnly() const;
};

class CComboBox : public CWnd {
 public:
  static constexpr int CB_ERR = -1;
  int GetCurSel() const;     // CB_ERR when the edit field holds typed text
  int SetCurSel(int index);  // index outside the list clears the selection; returns CB_ERR then
  int GetCount() const;
  void ShowDropDown(bool show);
};

class CButton : public CWnd {};

}  // namespace qm::framework
