#include "framework/controls.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVariant>

#include "framework/widget_text.h"

namespace fw {

namespace detail {

namespace {
constexpr const char* kExactText = "fwExactText";
constexpr const char* kShownText = "fwShownText";
}  // namespace

void SetWidgetText(QWidget* widget, const QString& text) {
  if (widget == nullptr) return;
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    line->setText(text);
    // Windows shows the start of a text that is wider than its box.
    line->setCursorPosition(0);
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(widget)) {
    plain->setPlainText(text);
    // The widget turns "\r\n" into one break; remember what was given so reading it back is exact.
    plain->setProperty(kExactText, text);
    plain->setProperty(kShownText, plain->toPlainText());
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(text);
  } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
    // Only a combo box with an edit field has a text of its own.
    if (combo->isEditable()) combo->setEditText(text);
  }
}

QString WidgetText(const QWidget* widget) {
  if (widget == nullptr) return {};
  if (auto* line = qobject_cast<const QLineEdit*>(widget)) return line->text();
  if (auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) {
    const QString shown = plain->toPlainText();
    const QVariant exact = plain->property(kExactText);
    if (exact.isValid() && plain->property(kShownText).toString() == shown) return exact.toString();
    QString text = shown;
    text.replace(QChar('\n'), QStringLiteral("\r\n"));
    return text;
  }
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* group = qobject_cast<const QGroupBox*>(widget)) return group->title();
  if (auto* combo = qobject_cast<const QComboBox*>(widget)) return combo->currentText();
  return {};
}

}  // namespace detail

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
    if (combo->isEditable()) combo->setEditText(QString());
    return CB_ERR;
  }
  combo->setCurrentIndex(index);
  // Re-selecting the current item must also replace whatever was typed.
  if (combo->isEditable()) combo->setEditText(combo->itemText(index));
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

}  // namespace fw
