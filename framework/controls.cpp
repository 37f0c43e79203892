#include "framework/controls.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "framework/widget_text.h"

namespace qm::framework {

void CWnd::EnableWindow(bool enable) {
  if (widget_ != nullptr) widget_->setEnabled(enable);
}

bool CWnd::IsWindowEnabled() const { return widget_ != nullptr && widget_->isEnabled(); }

void CWnd::ShowWindow(bool show) {
  if (widget_ != nullptr) widget_->setVisible(show);
}

void CWnd::SetWindowText(const QString& text) { detail::SetWidgetText(widget_, text); }

QString CWnd::GetWindowText() const { return detail::WidgetText(widget_); }

void CEdit::SetReadOnly(bool readOnly) {
  if (auto* line = qobject_cast<QLineEdit*>(widget_)) line->setReadOnly(readOnly);
  if (auto* plain = qobject_cast<QPlainTextEdit*>(widget_)) plain->setReadOnly(readOnly);
}

bool CEdit::IsReadOnly() const {
  if (auto* line = qobject_cast<QLineEdit*>(widget_)) return line->isReadOnly();
  if (auto* plain = qobject_cast<QPlainTextEdit*>(widget_)) return plain->isReadOnly();
  return false;
}

namespace {
QComboBox* AsCombo(QWidget* widget) { return qobject_cast<QComboBox*>(widget); }
}  // namespace

int CComboBox::GetCurSel() const {
  const QComboBox* combo = AsCombo(widget_);
  if (combo == nullptr) return CB_ERR;
  const int index = combo->currentIndex();
  if (index < 0) return CB_ERR;
  // Text typed into the edit field that is not the selected item leaves no selection.
  if (combo->isEditable() && combo->currentText() != combo->itemText(index)) return CB_ERR;
  return index;
}

int CComboBox::SetCurSel(int index) {
  QComboBox* combo = AsCombo(widget_);
  if (combo == nullptr) return CB_ERR;
  if (index < 0 || index >= combo->count()) {
    combo->setCurrentIndex(-1);
    // The poll cycle clears an empty list's text every second: only a text there is replaced.
    if (combo->isEditable() && !combo->currentText().isEmpty()) combo->setEditText(QString());
    return CB_ERR;
  }
  combo->setCurrentIndex(index);
  // Re-selecting the current item must also replace whatever was typed.
  if (combo->isEditable() && combo->currentText() != combo->itemText(index))
    combo->setEditText(combo->itemText(index));
  return index;
}

int CComboBox::GetCount() const {
  const QComboBox* combo = AsCombo(widget_);
  return combo == nullptr ? 0 : combo->count();
}

void CComboBox::ShowDropDown(bool show) {
  QComboBox* combo = AsCombo(widget_);
  if (combo == nullptr) return;
  if (show) {
    combo->showPopup();
  } else {
    combo->hidePopup();
  }
}

}  // namespace qm::framework
